// Tone conversion of the captured page to pure black and white: the recognition levels, the
// plain threshold, the forced black of the gray conversion and the Stucki error diffusion.
#pragma once

#include <cstddef>
#include <vector>

extern const int blacklevellist[7];  // black-and-white thresholds by DegreeOfBlackRecognition
extern const int graylevellist[7];   // forced-black limits by DegreeOfGrayRecognition

// The level in use: the chosen one when it lies in 1..7, otherwise the initial level.
int effectiveBlackLevel(int level);  // initial 4
int effectiveGrayLevel(int level);   // initial 7

// A 256-entry dot map for the pointwise part of a tone conversion: the threshold (dots above
// threshold white, the others black) or the forced black (dots below limit black, others
// unchanged).
void buildThresholdMap(int threshold, unsigned char map[256]);
void buildForcedBlackMap(int limit, unsigned char map[256]);

// Applies a dot map in place.
void mapDots(unsigned char *dots, size_t count, const unsigned char map[256]);

// Stucki error diffusion in raster order, row by row. Keeps only the errors of the rows not yet
// diffused (four rows), so a page streams through it as it is captured. Rows are diffused in
// pairs, the second row trailing the first by four dots: every error cell still receives its
// additions in raster order, and the two rows' serial chains of operations overlap.
class StuckiDiffusion {
 public:
  explicit StuckiDiffusion(int width);
  // Queues the next row (width dots); it is diffused in place, every dot becoming 0 or 255, once
  // the following row is queued or finish() is called. The row must stay in place until then.
  void diffuseRow(unsigned char *row);
  // Diffuses a row still queued.
  void finish();
  // After finish() or an even number of rows: the errors gathered so far for the row 1 or 2
  // below the last diffused row (width cells).
  const double *pendingErrors(int below) const { return rows_[below - 1]; }

 private:
  void diffuseSingle(unsigned char *row);
  void diffusePair(unsigned char *first, unsigned char *second);
  bool quiet(const unsigned char *row, const double *errors) const;
  void retire(int count);

  int width_;
  size_t stride_;
  std::vector<double> errors_;  // four rows of width + 4 (two guard cells on each side)
  double *rows_[4];             // errors of the next row to diffuse and the three below it
  unsigned char *queued_ = nullptr;
};
