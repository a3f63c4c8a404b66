// Image effects on the luminance page: left-right mirror and the pencil-sketch rendering
// (negative, gaussian blur from three box blurs, colour-dodge blend).
//
// Every operation reads a source page and writes a destination page of width × height dots;
// unless said otherwise the two may be the same buffer (the work is then done in place).
#pragma once

#include <vector>

// des = gray mirrored left to right.
void mirror(const unsigned char *gray, unsigned char *des, int width, int height);
// One row mirrored in place.
void mirrorRow(unsigned char *row, int width);

// des = sketch rendering of gray. Apart from a few rows of scratch, des is the only work page.
void sketch(const unsigned char *gray, unsigned char *des, int width, int height);

// grayReverse = 255 − gray.
void getReverseGray(const unsigned char *gray, unsigned char *grayReverse, int width, int height);

// Gaussian blur of sigma r approximated by three box blurs.
void gaussBlur_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);

// The n box widths whose successive blurs approximate a gaussian of the given sigma.
std::vector<int> boxesForGauss(int sigma, int n);

// One box blur of radius r: horizontal pass, then vertical pass.
void boxBlur_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
// Horizontal and vertical box passes: every dot becomes the rounded mean of the 2r + 1 dots
// centred on it along the row (column), the edge dot standing in beyond the edge.
void boxBlurH_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
void boxBlurT_4(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);

// Colour-dodge blend of src with the blurred negative GaussianBuf into des.
void ColorDodgeBlendMerge2(const unsigned char *src, const unsigned char *GaussianBuf,
                           unsigned char *des, int width, int height);
// The blend of one dot s with its blurred negative b.
unsigned char colorDodge(unsigned s, unsigned b);
