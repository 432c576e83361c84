// AdaptiveVoiceActivityDetection: decides for every frame of a two-channel
// spectrum whether speech is present, against noise tracked in every frame,
// holding its decisions through short pauses.
#ifndef KOLV_ENHANCEMENT_ADAPTIVE_VOICE_ACTIVITY_DETECTION_NODE_H
#define KOLV_ENHANCEMENT_ADAPTIVE_VOICE_ACTIVITY_DETECTION_NODE_H

#include <string>

#include "AdaptiveVoiceActivityDetector.h"
#include "Node.h"

class AdaptiveVoiceActivityDetection : public KOLV::BufferedNode {
 public:
  AdaptiveVoiceActivityDetection(std::string nodeName, KOLV::ParameterSet params);
  ~AdaptiveVoiceActivityDetection() override = default;

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  static const KOLV::NodeDescription &description();

 private:
  // The band of the stream, after checking that frame `count` fits it.
  enhancement::SpeechBand checkedBand(int count, int rows, int cols);

  int inputID;
  int outputID;
  int samplingRate;
  enhancement::AdaptiveDetectorSettings settings;
  int streamCols = 0;  // columns of frame 0
  enhancement::AdaptiveVoiceActivityDetector detector;
};

#endif
