// Per-frame azimuths of several talkers from a two-channel spectrum that hold
// in reverberant rooms: bins weighted by how far they can be trusted to carry
// direct sound, summed over a short run of frames, compared with the cues of
// a measured head (or the spherical-head model). A drop-in for
// BinauralMultisourceLocalization.
#ifndef KOLV_ROBUST_BINAURAL_LOCALIZATION_H
#define KOLV_ROBUST_BINAURAL_LOCALIZATION_H

#include <memory>
#include <string>

#include "DirectSoundLocalizer.h"
#include "HeadSteering.h"
#include "Matrix.h"
#include "Node.h"

class RobustBinauralLocalization : public KOLV::BufferedNode {
 public:
  RobustBinauralLocalization(std::string nodeName, KOLV::ParameterSet params);
  ~RobustBinauralLocalization() override;

  static const KOLV::NodeDescription &description();

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

 private:
  using Spectrum = KOLV::Matrix<std::complex<float>>;

  void setUp(const Spectrum &spectrum, int count);
  void checkShape(const Spectrum &spectrum, int count) const;
  [[noreturn]] void fail(int count, const std::string &what) const;
  void warnOfUnusableFrame(int count);
  void reportHeadScale(int count);

  int spectrumID;
  int doaID;

  std::string steeringName;      // MEASURED_HEAD or SPHERICAL_HEAD
  std::string sofaFile;
  localization::Cues cues;
  localization::Cues roomCues;   // while the stream is taken for a room (measured head)
  float micsDistance;            // cm, for the spherical head
  float headScale;               // HEAD_SCALE, 0 learnt
  int advance;                   // samples
  int samplingRate;              // Hz
  float frequencyLow;            // Hz
  float frequencyHigh;           // Hz
  localization::LocalizerSettings settings;

  std::unique_ptr<localization::MeasuredHead> head;  // opened when the network is built
  int cols = 0;                  // column count of every input frame, from frame 0
  localization::DirectSoundLocalizer localizer;      // set up at frame 0
  bool warnedOfUnusableFrame = false;
  float reportedScale = 1.0f;    // the head size last said
};

#endif
