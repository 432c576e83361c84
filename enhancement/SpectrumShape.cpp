#include "SpectrumShape.h"

#include "RealTransform.h"

namespace enhancement {

std::string shapeText(int rows, int cols) { return std::to_string(rows) + " x " + std::to_string(cols); }

std::string shapeChange(const std::string &port, int firstRows, int firstCols, int rows, int cols) {
  if (rows == firstRows && cols == firstCols) return "";
  return "input " + port + " changed size from " + shapeText(firstRows, firstCols) + " at frame 0 to " +
         shapeText(rows, cols);
}

std::string regenerationMisfit(const std::string &port, int cols) {
  const int bins = cols - 1;
  if (RealTransform::isValidHalfLength(bins)) return "";
  return "HARMONIC_REGENERATION needs a transform length that is a power of two (at least 4), but input " +
         port + " has " + std::to_string(cols) + " columns (transform length " + std::to_string(2 * bins) + ")";
}

}  // namespace enhancement
