// The spectrogram's colours: adjacent frequency bins pooled into one pixel
// row per group, the group's mean magnitude (kept in whole units) mapped onto
// a black-red-yellow-white ramp.
#ifndef KOLV_MAGNITUDE_RAMP_H
#define KOLV_MAGNITUDE_RAMP_H

#include <complex>
#include <cstdint>
#include <vector>

namespace kolvdisplay {

// Rows the spectrogram aims to fill per channel.
constexpr int kSpectrogramRows = 256;
// The smallest spectrum the display takes: fewer columns give a group size of 0.
constexpr int kMinSpectrumColumns = 129;

// A 16-bit colour.
struct RampColour {
  uint16_t red, green, blue;
  bool operator==(const RampColour &o) const {
    return red == o.red && green == o.green && blue == o.blue;
  }
};

// Bins per pixel row for a spectrum of `cols` columns: (cols - 1) / 256
// rounded half up (257 -> 1, 513 -> 2, 1025 -> 4).
int binGroupSize(int cols);
// Number of bin groups (pixel rows) of a row: groups start at 0, g, 2g, ...
// below cols - 1, so the last column (half the rate) starts none.
int binGroupCount(int cols, int groupSize);
// The group's magnitude value: each bin adds |X| / g and every partial sum
// is cut back to a whole number. Bins past the row's end add nothing.
uint64_t groupMagnitude(const std::complex<float> *row, int cols, int first, int groupSize);
// Black at 0, red up to 65535, then yellow, then white from 196605 up.
RampColour rampColour(uint64_t magnitude);
// The colours of all bin groups of one channel of one frame, group 0 first.
void groupColours(const std::complex<float> *row, int cols, std::vector<RampColour> &colours);

}  // namespace kolvdisplay

#endif
