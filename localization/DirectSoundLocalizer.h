// Per-frame source directions that hold in reverberant rooms: each bin's
// cross-spectrum, weighted by how far it can be trusted (BinTrust) and by its
// power (PHAT-beta, Donohue et al. 2007), is summed over a short run of frames
// and compared with the steering cues of every direction; the strongest peaks
// are the sources.
#ifndef KOLV_LOCALIZATION_DIRECT_SOUND_LOCALIZER_H
#define KOLV_LOCALIZATION_DIRECT_SOUND_LOCALIZER_H

#include <array>
#include <complex>
#include <vector>

#include "BinTrust.h"
#include "Directions.h"
#include "HeadSteering.h"
#include "LeadingDirections.h"
#include "PeakPicking.h"

namespace localization {

struct LocalizerSettings {
  TrustSettings trust;
  int integrationFrames = 20;    // frames summed, the current one included
  float phatBeta = 1.0f;         // 1: phase only (PHAT); below 1 louder bins weigh more
  float coherenceExponent = 0.0f;  // a bin's sum weighs (|sum| / weights)^this
  // The same while the stream is taken for a reverberant room, where bins
  // whose phase wanders over the integration are mostly reflections'.
  float roomCoherenceExponent = 1.0f;
  // Sharpening of each bin's agreement with a direction: the cosine to the
  // power 2k+1 (0: the plain cosine; at most 4).
  int sharpness = 2;
  // The spectrum is normalised by its summed weights, but never by less than
  // this share of bins x frames: little trusted evidence makes low peaks.
  float minEvidence = 0.05f;
  float threshold = 0.1f;        // a peak of the spatial spectrum (-1..1) must exceed this
  // A peak after the highest must also exceed this (0: the threshold alone):
  // in rooms most weak secondary peaks are reflections.
  float secondThreshold = 0.0f;
  int maxPeaks = 2;              // at most this many peaks per frame, the highest
  // In a reverberant room, peaks after the highest only where the frames'
  // highest peaks have lately been.
  RoomSettings room;
};

// Learning the listening head's size. The steering is kept for several
// sizes (scales of the measured head or the sphere), and the one in use
// moves to a neighbouring size whose spectrum peaks higher at the frames'
// highest peaks: cues that match the head agree across the bins.
struct HeadScaleLearning {
  bool enabled = false;
  int everyFrames = 2;        // frames between two comparisons
  int evidenceFrames = 25;    // comparisons behind each decision
  // Only frames whose highest peak reaches this are compared: there the
  // direct sound leads. In a reverberant room lower peaks favour a smaller
  // head, the reflections drawing the cues towards the front; a mismatched
  // head's peaks are lower too, so the bar cannot be much higher.
  float minPeak = 0.35f;
  float margin = 0.01f;       // how much higher (relative) a neighbour must peak to be taken
  int searchDirections = 6;   // directions either side of the highest peak where a neighbour's peak is sought
};

class DirectSoundLocalizer {
 public:
  DirectSoundLocalizer() = default;
  DirectSoundLocalizer(const LocalizerSettings &settings, InterauralSteering steering);
  // With the steering for several head sizes, increasing, `scales` their
  // sizes, `start` the one used first; `roomSteerings`, for the same sizes,
  // is used instead while the stream is taken for a reverberant room (empty:
  // the same steering throughout).
  DirectSoundLocalizer(const LocalizerSettings &settings, std::vector<InterauralSteering> steerings,
                       std::vector<float> scales, int start, const HeadScaleLearning &learning,
                       std::vector<InterauralSteering> roomSteerings = {});

  // The size of the head the steering in use is for (1: as measured).
  float headScale() const { return scales_[static_cast<size_t>(current_)]; }

  // The peaks of this frame (at most maxPeaks, in increasing direction) from
  // rows `left` and `right` of a spectrum that has the steering's bins.
  // A frame whose analysed bins are not all finite (or whose power
  // overflows) changes nothing and gives false.
  bool locate(const std::complex<float> *left, const std::complex<float> *right, PeakList &peaks);

 private:
  struct Contribution {  // one bin of one frame, weighted
    float re, im, level, weight;
  };
  bool readFrame(const std::complex<float> *left, const std::complex<float> *right);
  void integrate();
  void computeSpectrum();
  void selectPeaks(PeakList &peaks) const;
  static void sortByDirection(PeakList &peaks);
  void sidelobeShares(int m, const PeakList &candidates, float *share) const;
  // A frame's vectors are formed for the cues in use when it arrives: for one
  // integration after the room test changes its mind the sums mix both kinds,
  // which differ only in the level term and the length of the phase term.
  const std::vector<InterauralSteering> &steeringsInUse() const {
    return roomSteerings_.empty() || !leaders_.inRoom() ? steerings_ : roomSteerings_;
  }
  const InterauralSteering &steering() const { return steeringsInUse()[static_cast<size_t>(current_)]; }
  float peakNear(const InterauralSteering &steering, int direction) const;
  void compareHeadScales(const Peak &highest);

  LocalizerSettings settings_;
  std::vector<InterauralSteering> steerings_;  // by increasing head size
  std::vector<InterauralSteering> roomSteerings_;  // the same sizes, for a room; or none
  std::vector<float> scales_;
  int current_ = 0;
  HeadScaleLearning learning_;
  std::array<double, 3> evidence_{};  // summed peaks of the sizes below, in use and above
  int compared_ = 0;  // comparisons summed in evidence_
  int frames_ = 0;    // frames whose highest peak reached minPeak
  BinTrust trust_;
  LeadingDirections leaders_;
  int bins_ = 0;
  std::vector<float> power_;        // |L|^2 + |R|^2 of every column up to highBin
  std::vector<Contribution> frame_;     // this frame, per bin
  std::vector<float> weight_;       // trust of this frame's bins
  std::vector<Contribution> history_;   // integrationFrames x bins, a ring
  std::vector<Contribution> sum_;       // per bin, the sum of the ring
  std::vector<float> strength_;     // per bin, its share of the spectrum: g |sum|
  std::vector<Contribution> unit_;  // per bin, its sum's direction (re, im, level)
  float normaliser_ = 0.0f;
  int newest_ = -1;                 // ring slot of the current frame
  float spectrum_[kPaddedDirections] = {};
};

}  // namespace localization

#endif
