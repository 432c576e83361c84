// A SOFA set of head-related impulse responses, opened with libmysofa at a
// given sampling rate: the one place that opens, checks and closes such a
// file, for the localizer's steering from a measured head and for the scene
// renderer.
#ifndef KOLV_LOCALIZATION_SOFA_SET_H
#define KOLV_LOCALIZATION_SOFA_SET_H

#include <memory>
#include <string>
#include <vector>

struct MYSOFA_HRTF;
struct MYSOFA_LOOKUP;
struct MYSOFA_NEIGHBORHOOD;

namespace localization {

constexpr const char *kDefaultSofaFile = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa";

// The sizes, over the measured head's, a set's responses may be scaled to
// (a head that many times as large, every delay grown alike).
constexpr double kSmallestHeadScale = 0.5;
constexpr double kLargestHeadScale = 2.0;

// The unit vector of a direction in SOFA's frame (x ahead, y towards the
// left ear, z up), whose azimuths grow counter-clockwise, to the left; this
// project's azimuths grow towards channel 1 (the right ear).
void sofaDirection(double azimuthDeg, double elevationDeg, float xyz[3]);

// Both ears' impulse responses for one direction, with the set's broadband
// delays apart.
struct HeadFilters {
  std::vector<float> left;   // channel 0
  std::vector<float> right;  // channel 1
  float delayLeft = 0.0f, delayRight = 0.0f;  // s
};

// A response resampled from one rate to another with libsoxr (high quality,
// linear phase, its delay compensated). Throws std::runtime_error.
std::vector<float> resampledResponse(const std::vector<double> &response, int fromRate, int toRate);

// How a set recorded at another rate reaches the asked one: libmysofa
// resamples every measurement when the set opens (what a renderer that reads
// many directions wants), or each interpolated response is resampled as it is
// read (several times faster for a few hundred directions; the measurements'
// interpolation and the resampling are both linear, so the two agree within
// the resamplers' ripple). The levels differ by libmysofa's normalisation,
// which is computed on the set at the rate it opens at.
enum class SofaResampling { WholeSet, EachResponse };

class SofaSet {
 public:
  // Throws std::runtime_error naming the file when it is missing, not a
  // usable SOFA file, or not for two ears.
  SofaSet(const std::string &path, int samplingRate, SofaResampling resampling = SofaResampling::WholeSet);
  ~SofaSet();
  SofaSet(const SofaSet &) = delete;
  SofaSet &operator=(const SofaSet &) = delete;

  // The responses for a direction at the measurements' distance,
  // interpolated between the nearest measurements by libmysofa.
  HeadFilters filters(double azimuthDeg, double elevationDeg) const;

  // Unit vectors of the measured directions, in SOFA's frame.
  std::vector<std::vector<double>> measuredDirections() const;

  int filterLength() const { return filterLength_; }
  int samplingRate() const { return samplingRate_; }

 private:
  struct Release {
    void operator()(MYSOFA_HRTF *h) const;
    void operator()(MYSOFA_LOOKUP *l) const;
    void operator()(MYSOFA_NEIGHBORHOOD *n) const;
  };
  std::unique_ptr<MYSOFA_HRTF, Release> hrtf_;  // the set, in cartesian positions
  std::unique_ptr<MYSOFA_LOOKUP, Release> lookup_;
  std::unique_ptr<MYSOFA_NEIGHBORHOOD, Release> neighborhood_;
  int filterLength_ = 0;
  int samplingRate_ = 0;
  int openedRate_ = 0;  // the rate libmysofa holds the set at
  float radius_ = 1.0f;  // m, the mean distance of the measurement positions
};

}  // namespace localization

#endif
