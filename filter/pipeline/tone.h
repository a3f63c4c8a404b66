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

// Stucki error diffusion, row by row in raster order. Keeps only the error of the current row
// and the two below it, so a page streams through it as it is captured.
class StuckiDiffusion {
 public:
  explicit StuckiDiffusion(int width);
  // Diffuses the next row (width dots) in place: every dot becomes 0 or 255.
  void diffuseRow(unsigned char *row);
  // The errors gathered so far for the row 1 or 2 below the last diffused row (width cells).
  const double *pendingErrors(int below) const { return rows_[below - 1]; }

 private:
  int width_;
  size_t stride_;
  std::vector<double> errors_;  // three rows of width + 4 (two guard cells on each side)
  double *rows_[3];             // current row, the next, the one after
};
