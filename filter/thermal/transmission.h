// Sending the packed page bitmap: paper size, filler, compression switch, the raster bitmap
// command and its data in drained 1024-byte pieces, and the wait after a page where the model
// needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/page.h"
#include "thermal/commands.h"

// The largest bitmap the bitmap command can announce: its row width in bytes and its row count
// are 16-bit fields.
inline constexpr int64_t kMaxBitmapRowBytes = 65535;
inline constexpr int64_t kMaxBitmapRows = 65535;
// True when a finished page of width x height dots fits the bitmap command; otherwise false
// with the reason.
bool bitmapCommandFits(int64_t width, int64_t height, std::string &reason);

// Compresses size bytes into 4096-byte LZO1X-1 frames (3-byte length header each) at compress;
// returns the bytes written (-1 when the LZO library cannot be initialised or no work memory
// can be had). compress must hold compressedCapacity(size) bytes; workMemory, when given,
// kCompressWorkBytes bytes of the compressor's scratch (16-byte aligned).
int compressBitmap(const unsigned char *buffer, unsigned char *compress, int size,
                   void *workMemory = nullptr);
// The compressor's scratch (LZO1X-1's work memory).
inline constexpr size_t kCompressWorkBytes = 16384 * sizeof(unsigned char *);
// Room for the compressed stream of size bytes: size + size/16 + 1024, and never less than the
// worst case of every frame.
size_t compressedCapacity(size_t size);

enum class TransmitResult {
  Sent,      // the bitmap went out whole
  Canceled,  // the job was cancelled before the bitmap command; nothing of the bitmap was sent
  Failed,    // a buffer could not be had; an "ERROR:" line was written, nothing of the bitmap sent
};

// Sends the page bitmap page.sendBuf ((header.cupsWidth + 7) / 8 bytes per row,
// header.cupsHeight rows, page.sendBufSize bytes in all) and releases it.
TransmitResult transmitBitmap(ThermalJob &job, Page &page);
