// The page bitmap's wire form: the bitmap command's limits and the LZO framing
// (ThermalPrinter::transmitBitmap sends it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
