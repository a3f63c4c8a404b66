// Sending the packed page bitmap: filler, compression switch, bitmap command, data in drained
// 1024-byte pieces, and the model-302 wait.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>
#include <cstddef>

// Compresses size bytes into 4096-byte LZO1X-1 frames (3-byte length header each) at compress;
// returns the bytes written (-1 when the LZO library cannot be initialised). compress must hold
// compressedCapacity(size) bytes.
int compressBitmap(const unsigned char *buffer, unsigned char *compress, int size);
// Room for the compressed stream of size bytes: size + size/16 + 1024, and never less than the
// worst case of every frame.
size_t compressedCapacity(size_t size);

enum class TransmitResult {
  Sent,      // the bitmap went out whole
  Canceled,  // the job was cancelled before the bitmap command; nothing of the bitmap was sent
  Failed,    // a buffer could not be had; an "ERROR:" line was written, nothing of the bitmap sent
};

// Sends the page bitmap (sendBuf: (header->cupsWidth + 7) / 8 bytes per row, header->cupsHeight
// rows, buffersize bytes in all). The caller keeps and frees sendBuf.
TransmitResult transmitBitmap(ppd_file_t *ppd, const cups_page_header2_t *header,
                              const unsigned char *sendBuf, size_t buffersize);
