// Bitmap transmission of the thermal models: paper size, filler, compression switch, the raster
// bitmap command and its data in drained 1024-byte pieces, and the model-302 wait for idle.
#include "thermal/transmission.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "driver/job.h"
#include "io/log.h"
#include "io/printer_stream.h"
#include "monitor/queries.h"
#include "monitor/status.h"
#include "thermal/commands.h"
#include "thermal/page_setup.h"

namespace {

constexpr size_t kBlockSize = 4096;   // uncompressed bytes per frame
constexpr size_t kFrameHeader = 3;    // bL, bM, bH
constexpr size_t kPieceSize = 1024;   // bytes written between two drains
constexpr size_t kFillerSize = 2048;  // zero bytes that settle the printer's input
constexpr int kIdleWaitPasses = 30;   // model 302: seconds to wait for the idle report
constexpr int kPaperCheckFrom = 25;   // pass from which the paper is asked for as well

const unsigned char rubbishData[kFillerSize] = {};

// LZO1X-1 work memory, kept for the whole process (only the main thread compresses).
alignas(16) unsigned char wrkmem[LZO1X_1_MEM_COMPRESS];

// The library must be initialised once before the first compression.
bool lzoReady() {
  static const bool ready = lzo_init() == LZO_E_OK;
  return ready;
}

// Worst case of one frame of n input bytes (LZO1X's bound plus the header).
size_t worstFrame(size_t n) {
  return kFrameHeader + n + n / 16 + 64 + 3;
}

bool usesCompression(int model) {
  switch (model) {
    case 22:
    case 23:
    case 302:
    case 400:
    case 613207:
      return true;
    default:
      return false;
  }
}

bool sendsFiller(int model, const ppd_file_t *ppd) {
  return model != 64519 && !ppdModelNameIs(ppd, "HQ31") && !ppdModelNameIs(ppd, "HQ32");
}

void sendFiller() {
  prnWrite(rubbishData, sizeof rubbishData);
  SendNow();
}

// Bytes 4 to 7 of the bitmap command: row width in bytes and row count, both 16-bit, always of
// the uncompressed bitmap.
void patchBitmapCommand(const cups_page_header2_t *header) {
  uint64_t bytewidth = (static_cast<uint64_t>(header->cupsWidth) + 7) / 8;
  bCmdBMP[4] = static_cast<unsigned char>(bytewidth & 0xFF);
  bCmdBMP[5] = static_cast<unsigned char>((bytewidth / 256) & 0xFF);
  bCmdBMP[6] = static_cast<unsigned char>(header->cupsHeight & 0xFF);
  bCmdBMP[7] = static_cast<unsigned char>((header->cupsHeight >> 8) & 0xFF);
}

void sendInPieces(const unsigned char *data, size_t size) {
  for (size_t i = 0; i < size; i += kPieceSize) {
    prnWrite(data + i, std::min(kPieceSize, size - i));
    SendNow();
  }
}

// Model 302: up to 30 s for the idle report, which the monitor thread parses; from the 26th
// second on the paper is asked for too, and paper present ends the wait.
void waitPrinterIdle() {
  mymon.freeStatus = 0;
  for (int pass = 0; pass < kIdleWaitPasses; pass++) {
    sleepSeconds(1);
    if (Canceled.load() != 0 || mymon.freeStatus != 0) return;
    if (pass >= kPaperCheckFrom) {
      GetPaperStatus();
      if (mymon.paperstatus == 1) return;
    }
  }
}

}  // namespace

size_t compressedCapacity(size_t size) {
  size_t full = size / kBlockSize, rest = size % kBlockSize;
  size_t worst = full * worstFrame(kBlockSize) + (rest ? worstFrame(rest) : 0);
  return std::max(size + size / 16 + 1024, worst);
}

int compressBitmap(const unsigned char *buffer, unsigned char *compress, int size) {
  if (!lzoReady()) return -1;
  size_t idx = 0;
  for (size_t done = 0; done < static_cast<size_t>(std::max(size, 0)); done += kBlockSize) {
    size_t n = std::min(kBlockSize, static_cast<size_t>(size) - done);
    lzo_uint length = 0;
    // The capacity covers the worst case of every frame, so each block goes straight to its
    // place behind its header.
    lzo1x_1_compress(const_cast<unsigned char *>(buffer + done), n, compress + idx + kFrameHeader,
                     &length, wrkmem);
    compress[idx] = static_cast<unsigned char>(length & 0xFF);
    compress[idx + 1] = static_cast<unsigned char>((length >> 8) & 0xFF);
    compress[idx + 2] = 0x00;
    idx += kFrameHeader + length;
  }
  return static_cast<int>(idx);
}

TransmitResult transmitBitmap(ppd_file_t *ppd, const cups_page_header2_t *header,
                              const unsigned char *sendBuf, size_t buffersize) {
  logMessage("buffer size is %zu\n", buffersize);

  // Everything that can fail comes before the first byte of the bitmap.
  bool compressed = usesCompression(ModelNumber);
  std::unique_ptr<unsigned char[]> combuff;
  if (compressed) {
    if (buffersize > static_cast<size_t>(INT_MAX) ||
        compressedCapacity(buffersize) > static_cast<size_t>(INT_MAX)) {
      logMessage("ERROR: Page bitmap of %zu bytes is too large to compress\n", buffersize);
      return TransmitResult::Failed;
    }
    if (!lzoReady()) {
      logMessage("ERROR: The LZO compression library could not be initialised\n");
      return TransmitResult::Failed;
    }
    combuff.reset(new (std::nothrow) unsigned char[compressedCapacity(buffersize)]);
    if (!combuff) {
      logMessage("ERROR: Unable to allocate %zu bytes for the compressed page bitmap\n",
                 compressedCapacity(buffersize));
      return TransmitResult::Failed;
    }
  }

  if (ModelNumber == 302 || ModelNumber == 23) prnWrite(bCmdPaper, sizeof bCmdPaper);
  SendNow();
  if (sendsFiller(ModelNumber, ppd)) sendFiller();

  const unsigned char *data = sendBuf;
  size_t size = buffersize;
  if (compressed) {
    prnWrite(bCmdCompressionOn, sizeof bCmdCompressionOn);
    size =
        static_cast<size_t>(compressBitmap(sendBuf, combuff.get(), static_cast<int>(buffersize)));
    data = combuff.get();
    logMessage("buffer size is %zu\n", size);
  } else {
    prnWrite(bCmdCompressionOff, sizeof bCmdCompressionOff);
  }

  if (Canceled.load() != 0) return TransmitResult::Canceled;

  mymon.Exception = 0;
  patchBitmapCommand(header);
  prnWrite(bCmdBMP, sizeof bCmdBMP);
  // Once the command is out the bitmap goes whole, cancelled or not.
  sendInPieces(data, size);
  prnFlush();

  if (ModelNumber == 302) {
    sendFiller();
    waitPrinterIdle();
  }
  return TransmitResult::Sent;
}
