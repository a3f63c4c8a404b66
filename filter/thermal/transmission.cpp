// Bitmap transmission of the thermal models: paper size, filler, compression switch, the raster
// bitmap command and its data in drained 1024-byte pieces, and the model-302 wait for idle.
#include "thermal/transmission.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "monitor/queries.h"
#include "thermal/thermal_printer.h"

namespace {

constexpr size_t kBlockSize = 4096;   // uncompressed bytes per frame
constexpr size_t kFrameHeader = 3;    // bL, bM, bH
constexpr size_t kPieceSize = 1024;   // bytes written between two drains
constexpr size_t kFillerSize = 2048;  // zero bytes that settle the printer's input
constexpr int kIdleWaitPasses = 30;   // model 302: seconds to wait for the idle report
constexpr int kPaperCheckFrom = 25;   // pass from which the paper is asked for as well

const unsigned char rubbishData[kFillerSize] = {};

// The library must be initialised once before the first compression.
bool lzoReady() {
  static const bool ready = lzo_init() == LZO_E_OK;
  return ready;
}

// Worst case of one frame of n input bytes (LZO1X's bound plus the header).
size_t worstFrame(size_t n) {
  return kFrameHeader + n + n / 16 + 64 + 3;
}

bool sendsFiller(const MonitorJob &job) {
  return job.model->filler && !job.modelNameIs("HQ31") && !job.modelNameIs("HQ32");
}

void sendFiller(MonitorJob &job) {
  job.prn.write(rubbishData, sizeof rubbishData);
  SendNow(job);
}

// Bytes 4 to 7 of the bitmap command: row width in bytes and row count, both 16-bit, always of
// the uncompressed bitmap.
void patchBitmapCommand(ThermalPrinter &printer, const cups_page_header2_t &header) {
  uint64_t bytewidth = (static_cast<uint64_t>(header.cupsWidth) + 7) / 8;
  printer.bCmdBMP[4] = static_cast<unsigned char>(bytewidth & 0xFF);
  printer.bCmdBMP[5] = static_cast<unsigned char>((bytewidth / 256) & 0xFF);
  printer.bCmdBMP[6] = static_cast<unsigned char>(header.cupsHeight & 0xFF);
  printer.bCmdBMP[7] = static_cast<unsigned char>((header.cupsHeight >> 8) & 0xFF);
}

void sendInPieces(MonitorJob &job, const unsigned char *data, size_t size) {
  for (size_t i = 0; i < size; i += kPieceSize) {
    job.prn.write(data + i, std::min(kPieceSize, size - i));
    SendNow(job);
  }
}

// Up to 30 s for the idle report, which the monitor thread parses; from the 26th second on the
// paper is asked for too, and paper present ends the wait.
void waitPrinterIdle(MonitorJob &job) {
  job.mymon.freeStatus = 0;
  for (int pass = 0; pass < kIdleWaitPasses; pass++) {
    sleepSeconds(job, 1);
    if (job.canceled() || job.mymon.freeStatus != 0) return;
    if (pass >= kPaperCheckFrom) {
      GetPaperStatus(job);
      if (job.mymon.paperstatus == 1) return;
    }
  }
}

}  // namespace

size_t compressedCapacity(size_t size) {
  size_t full = size / kBlockSize, rest = size % kBlockSize;
  size_t worst = full * worstFrame(kBlockSize) + (rest ? worstFrame(rest) : 0);
  return std::max(size + size / 16 + 1024, worst);
}

static_assert(kCompressWorkBytes >= LZO1X_1_MEM_COMPRESS, "the compressor's scratch");

int compressBitmap(const unsigned char *buffer, unsigned char *compress, int size,
                   void *workMemory) {
  if (!lzoReady()) return -1;
  // Work memory of the caller's job, or of this call.
  std::unique_ptr<unsigned char[]> own;
  if (!workMemory) {
    own.reset(new (std::nothrow) unsigned char[kCompressWorkBytes]);
    workMemory = own.get();
  }
  lzo_voidp wrkmem = workMemory;
  if (!wrkmem) return -1;
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

bool bitmapCommandFits(int64_t width, int64_t height, std::string &reason) {
  if ((width + 7) / 8 <= kMaxBitmapRowBytes && height <= kMaxBitmapRows) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "a page of %lld x %lld dots does not fit the printer's bitmap command (at most "
                "%lld bytes per row and %lld rows)",
                static_cast<long long>(width), static_cast<long long>(height),
                static_cast<long long>(kMaxBitmapRowBytes), static_cast<long long>(kMaxBitmapRows));
  reason = text;
  return false;
}

PageResult ThermalPrinter::transmitBitmap(const Page &page) {
  const size_t buffersize = sendBufSize;
  job.log.message("buffer size is %zu\n", buffersize);

  // Everything that can fail comes before the first byte of the bitmap.
  const bool compressed = job.model->compressed;
  std::unique_ptr<unsigned char[]> combuff;
  if (compressed) {
    if (buffersize > static_cast<size_t>(INT_MAX) ||
        compressedCapacity(buffersize) > static_cast<size_t>(INT_MAX)) {
      job.log.error("Page bitmap of %zu bytes is too large to compress", buffersize);
      return PageResult::Failed;
    }
    if (!lzoReady()) {
      job.log.error("The LZO compression library could not be initialised");
      return PageResult::Failed;
    }
    combuff.reset(new (std::nothrow) unsigned char[compressedCapacity(buffersize)]);
    if (!combuff) {
      job.log.error("Unable to allocate %zu bytes for the compressed page bitmap",
                    compressedCapacity(buffersize));
      return PageResult::Failed;
    }
  }

  if (job.model->printMode) job.prn.write(bCmdPaper, sizeof bCmdPaper);
  SendNow(job);
  if (sendsFiller(job)) sendFiller(job);

  const unsigned char *data = sendBuf.get();
  size_t size = buffersize;
  if (compressed) {
    job.prn.write(bCmdCompressionOn, sizeof bCmdCompressionOn);
    // The compressor clears what it uses of its scratch, so the kept scratch changes no byte.
    if (!compressWork) compressWork = allocateDots(kCompressWorkBytes);
    const int packed = compressBitmap(sendBuf.get(), combuff.get(), static_cast<int>(buffersize),
                                      compressWork.get());
    if (packed < 0) {
      job.log.error("The page bitmap could not be compressed");
      return PageResult::Failed;
    }
    size = static_cast<size_t>(packed);
    sendBuf.reset();
    data = combuff.get();
    job.log.message("buffer size is %zu\n", size);
  } else {
    job.prn.write(bCmdCompressionOff, sizeof bCmdCompressionOff);
  }

  if (job.canceled()) return PageResult::Canceled;

  job.mymon.Exception = 0;
  patchBitmapCommand(*this, page.header);
  job.prn.write(bCmdBMP, sizeof bCmdBMP);
  // Once the command is out the bitmap goes whole, cancelled or not.
  sendInPieces(job, data, size);
  job.prn.flush();
  sendBuf.reset();
  combuff.reset();

  if (job.model->idleWaitAfterPage) {
    sendFiller(job);
    waitPrinterIdle(job);
  }
  return PageResult::Sent;
}
