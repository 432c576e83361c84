// What the enhancement nodes say about the shape of their input spectra when
// they refuse it: one wording for both toolboxes' nodes.
#ifndef KOLV_ENHANCEMENT_SPECTRUM_SHAPE_H
#define KOLV_ENHANCEMENT_SPECTRUM_SHAPE_H

#include <string>

namespace enhancement {

// "rows x cols".
std::string shapeText(int rows, int cols);

// Why a stream whose frame 0 was firstRows x firstCols on input `port`
// cannot go on with rows x cols; empty when the shape is the same.
std::string shapeChange(const std::string &port, int firstRows, int firstCols, int rows, int cols);

// Why harmonic regeneration cannot run on a spectrum of `cols` columns on
// input `port`; empty when it can.
std::string regenerationMisfit(const std::string &port, int cols);

}  // namespace enhancement

#endif
