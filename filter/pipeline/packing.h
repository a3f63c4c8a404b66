// Packing of a row of dots into one bit per dot: bit 7 the leftmost dot, 1 a printed dot
// (value 128 or less), bits past the row's end 0.
#pragma once

void packRow(const unsigned char *dots, int width, unsigned char *out);
