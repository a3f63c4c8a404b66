// The plain forms of the page steps, written as directly as possible: every step writes a page
// of its own, the diffusion keeps a full page of errors, box passes have their own intermediate
// pages and a column-by-column vertical pass. The byte-identity tests hold the filter's fast
// steps to them, and the benchmarks measure against them.
#pragma once

#include <vector>

#include "pipeline/toned_page.h"

using Dots = std::vector<unsigned char>;

// Capture (24-bit RGB rows, fewer than height when the raster is short), mirror, sketch and
// tone conversion: the toned page of nw × height dots.
Dots referenceTonedPage(const std::vector<Dots> &rgbRows, int width, int height,
                        const ImageSettings &settings);

void referenceMirror(const unsigned char *gray, unsigned char *des, int width, int height);
void referenceSketch(const unsigned char *gray, unsigned char *des, int width, int height);
void referenceBoxBlurH(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
void referenceBoxBlurT(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
void referenceBoxBlur(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
void referenceGaussBlur(const unsigned char *scl, unsigned char *tcl, int w, int h, int r);
// Threshold (gray 0) or forced black and Stucki diffusion of the page, in place.
void referenceTone(Dots &page, int nw, int height, const ImageSettings &settings);
