// A measured set of head-related impulse responses, looked up in this
// project's convention: azimuth 0 straight ahead, positive azimuths towards
// channel 1 (the right ear), elevation positive upwards. The set is a SOFA
// file, or a horizontal-plane set in one WAV file: 2N channels, channels 2k
// and 2k+1 the left and the right ear's responses from k * 360 / N degrees
// counterclockwise of the front (towards the left ear), as the SoundScape
// Renderer's sets are stored (its FABIAN head: /usr/share/ssr/default_hrirs.wav).
#ifndef KOLV_RENDER_HRTFSET_H
#define KOLV_RENDER_HRTFSET_H

#include <memory>
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

enum class HeadFormat { Sofa, HorizontalWav };

class HrtfSet {
 public:
  // Opens the set resampled to `samplingRate`; throws std::runtime_error
  // naming the file when it is missing or not a usable set. With a head
  // scale, the responses are those of a head that many times as large: the
  // set resampled to samplingRate * headScale and played at samplingRate,
  // every delay grown by the scale.
  HrtfSet(const std::string &path, int samplingRate, double headScale = 1.0, HeadFormat format = HeadFormat::Sofa);
  ~HrtfSet();

  // The responses for a direction, interpolated between the nearest
  // measurements, with a SOFA set's broadband delays applied as whole
  // samples. A horizontal set has only the horizontal plane: every
  // elevation is heard with its azimuth's responses (the renderer refuses
  // sources out of the plane; a room's reflections from above or below are
  // heard as from the plane).
  HrirPair responses(double azimuthDeg, double elevationDeg) const;

  // Angle in degrees from a direction to the nearest measured one.
  double distanceToMeasured(double azimuthDeg, double elevationDeg) const;

  // The largest angle between a measured direction and its nearest
  // neighbour: directions farther than this from every measurement lie
  // outside what the set covers.
  double coarsestSpacing() const { return coarsestSpacing_; }

  int filterLength() const { return filterLength_; }
  int samplingRate() const { return samplingRate_; }

 private:
  void readHorizontalSet(const std::string &path, int resampledRate);
  HrirPair horizontalResponses(double azimuthDeg) const;

  std::unique_ptr<localization::SofaSet> sofa_;  // null for a horizontal set
  std::vector<HrirPair> horizontal_;             // a horizontal set's responses, counterclockwise from the front
  int filterLength_ = 0;
  int samplingRate_;
  std::vector<std::vector<double>> measured_;  // unit vectors of the measured directions
  double coarsestSpacing_ = 0.0;
};

}  // namespace render

#endif
