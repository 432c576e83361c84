// Steering phases of the 181 candidate azimuths for each analysed frequency
// bin, under a free-field or a rigid-sphere model of the interaural delay.
#ifndef KOLV_LOCALIZATION_STEERING_TABLES_H
#define KOLV_LOCALIZATION_STEERING_TABLES_H

#include <string>
#include <vector>

#include "Directions.h"

namespace localization {

enum class DelayModel { FreeSpace, SphericalHead };

constexpr const char *kFreeSpaceName = "FREE_SPACE";
constexpr const char *kSphericalHeadName = "SPHERICAL_HEAD";

// The model named by `name`; false when the name is neither accepted one.
bool parseDelayModel(const std::string &name, DelayModel &model);

// Interaural delay, in seconds, of direction n (azimuth n - 90 degrees) for
// microphones `micsDistance` centimetres apart. Positive when the second
// microphone hears the source first.
float interauralDelay(DelayModel model, float micsDistance, int n);

// Angular frequency (rad/s) of bin j of a spectrum with `cols` columns.
double binAngularFrequency(int j, int samplingRate, int cols);

// cos and sin of the steering phase tau_n * omega_j, laid out bin by bin with
// the directions contiguous (kPaddedDirections floats per bin, the padding
// zero), for the bins lowBin <= j < highBin.
class SteeringTables {
 public:
  SteeringTables() = default;
  SteeringTables(DelayModel model, float micsDistance, int samplingRate, int cols, int lowBin,
                 int highBin);

  const float *steeringCos(int j) const { return &cosines_[rowOffset(j)]; }
  const float *steeringSin(int j) const { return &sines_[rowOffset(j)]; }
  int lowBin() const { return lowBin_; }
  int highBin() const { return highBin_; }

 private:
  size_t rowOffset(int j) const { return static_cast<size_t>(j - lowBin_) * kPaddedDirections; }

  int lowBin_ = 0;
  int highBin_ = 0;
  std::vector<float> cosines_;
  std::vector<float> sines_;
};

}  // namespace localization

#endif
