// A measured set of head-related impulse responses (a SOFA file), looked up
// in this project's convention: azimuth 0 straight ahead, positive azimuths
// towards channel 1 (the right ear), elevation positive upwards.
#ifndef KOLV_RENDER_HRTFSET_H
#define KOLV_RENDER_HRTFSET_H

#include <string>
#include <vector>

#include "SofaSet.h"

namespace render {

using localization::kDefaultSofaFile;
using localization::sofaDirection;

struct HrirPair {
  std::vector<float> left;   // channel 0
  std::vector<float> right;  // channel 1
};

class HrtfSet {
 public:
  // Opens the set resampled to `samplingRate`; throws std::runtime_error
  // naming the file when it is missing or not a usable SOFA file. With a
  // head scale, the responses are those of a head that many times as large:
  // the set resampled to samplingRate * headScale and played at
  // samplingRate, every delay grown by the scale.
  HrtfSet(const std::string &path, int samplingRate, double headScale = 1.0);

  // The responses for a direction, interpolated between the nearest
  // measurements, with the set's broadband delays applied as whole samples.
  HrirPair responses(double azimuthDeg, double elevationDeg) const;

  // Angle in degrees from a direction to the nearest measured one.
  double distanceToMeasured(double azimuthDeg, double elevationDeg) const;

  // The largest angle between a measured direction and its nearest
  // neighbour: directions farther than this from every measurement lie
  // outside what the set covers.
  double coarsestSpacing() const { return coarsestSpacing_; }

  int filterLength() const { return set_.filterLength(); }
  int samplingRate() const { return samplingRate_; }

 private:
  localization::SofaSet set_;
  int samplingRate_;
  std::vector<std::vector<double>> measured_;  // unit vectors of the measured directions
  double coarsestSpacing_ = 0.0;
};

}  // namespace render

#endif
