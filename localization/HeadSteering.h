// Interaural cues that each of the 181 candidate azimuths would produce in each
// analysed bin: from the measured head-related responses of a SOFA file, or
// from the rigid-sphere model of the interaural delay.
#ifndef KOLV_LOCALIZATION_HEAD_STEERING_H
#define KOLV_LOCALIZATION_HEAD_STEERING_H

#include <complex>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Directions.h"
#include "SofaSet.h"

namespace localization {

// Whether a steering table compares the interaural phase only, or the phase
// and the level difference together.
enum class Cues { Phase, PhaseAndLevel };

// The responses of both ears for one direction, one complex value per bin.
struct EarResponses {
  std::vector<std::complex<double>> left;   // channel 0
  std::vector<std::complex<double>> right;  // channel 1
};

// A SOFA set of head-related impulse responses, read with libmysofa at a
// given sampling rate (each response resampled as it is read: the steering
// reads a few hundred). Throws std::runtime_error naming the file when it is
// missing or unusable.
class MeasuredHead {
 public:
  MeasuredHead(const std::string &path, int samplingRate)
      : set_(path, samplingRate, SofaResampling::EachResponse) {}

  // The transfer functions at bins 0 .. cols-1 of a (cols-1)*2-point
  // transform for an azimuth on the horizontal plane (this project's sign:
  // positive towards channel 1), interpolated between the measurements by
  // libmysofa, with the set's broadband delays as exact phase terms.
  // With a scale, those of a head `scale` times as large: what it hears at
  // a bin's frequency f this head hears at scale * f (every delay grows by
  // the scale); only bins firstBin .. endBin-1 are computed (all when endBin
  // is negative), the others are 0.
  EarResponses responses(double azimuthDegrees, int cols, double scale = 1.0, int firstBin = 0,
                         int endBin = -1) const;

  // The interaural delay (s, positive when channel 1 leads) at the peak of
  // the cross-correlation of the two responses, refined by a parabola.
  double interauralDelay(double azimuthDegrees) const;

 private:
  // libmysofa's interpolation between the measurements costs more than a
  // transform; each direction's filters are read once for every head scale.
  const HeadFilters &horizontalFilters(double azimuthDegrees) const;

  SofaSet set_;
  mutable std::map<double, HeadFilters> filtersByAzimuth_;
};

// Per analysed bin and direction the expected normalised cross-spectrum
// S = 2 H_L conj(H_R) / (|H_L|^2 + |H_R|^2) and level difference
// d = (|H_L|^2 - |H_R|^2) / (|H_L|^2 + |H_R|^2): the unit vector
// (Re S, Im S, d) of a source alone in that direction. For phase-only cues S
// has modulus 1 and d is 0. Laid out bin by bin, kPaddedDirections floats per
// row, the padding 0.
class InterauralSteering {
 public:
  InterauralSteering() = default;
  // From measured responses, of the head itself or of one `scale` times as large.
  InterauralSteering(const MeasuredHead &head, Cues cues, int cols, int lowBin, int highBin, double scale = 1.0);
  // From the responses of steeredResponses, so that both kinds of cues can
  // be built from one transform of the set.
  InterauralSteering(const std::vector<EarResponses> &responses, Cues cues, int lowBin, int highBin);
  // From the rigid-sphere delay for a head `headDiameter` cm wide (phase only).
  InterauralSteering(float headDiameter, int samplingRate, int cols, int lowBin, int highBin);

  const float *real(int j) const { return &real_[rowOffset(j)]; }
  const float *imag(int j) const { return &imag_[rowOffset(j)]; }
  const float *level(int j) const { return &level_[rowOffset(j)]; }
  bool usesLevel() const { return usesLevel_; }
  int lowBin() const { return lowBin_; }
  int highBin() const { return highBin_; }

 private:
  void allocate(int lowBin, int highBin);
  size_t rowOffset(int j) const { return static_cast<size_t>(j - lowBin_) * kPaddedDirections; }

  int lowBin_ = 0;
  int highBin_ = 0;
  bool usesLevel_ = false;
  std::vector<float> real_, imag_, level_;
};

// A head's responses (of one `scale` times as large) toward every steered
// direction, by direction index, with bins lowBin .. highBin-1 computed.
std::vector<EarResponses> steeredResponses(const MeasuredHead &head, int cols, int lowBin, int highBin,
                                           double scale = 1.0);

}  // namespace localization

#endif
