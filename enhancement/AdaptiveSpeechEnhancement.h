// AdaptiveSpeechEnhancement: removes background noise from a multi-channel
// short-time spectrum, tracking the noise in every frame, so that a
// recording needs no noise-only lead-in and the noise may change.
#ifndef KOLV_ENHANCEMENT_ADAPTIVE_SPEECH_ENHANCEMENT_NODE_H
#define KOLV_ENHANCEMENT_ADAPTIVE_SPEECH_ENHANCEMENT_NODE_H

#include <string>

#include "AdaptiveSpeechEnhancer.h"
#include "Node.h"

class AdaptiveSpeechEnhancement : public KOLV::BufferedNode {
 public:
  AdaptiveSpeechEnhancement(std::string nodeName, KOLV::ParameterSet params);
  ~AdaptiveSpeechEnhancement() override = default;

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  static const KOLV::NodeDescription &description();

 private:
  // Sizes the enhancer from frame 0, and holds later frames to that size.
  void checkShape(int count, int rows, int cols);

  int inputID;
  int outputID;
  enhancement::AdaptiveEnhancerSettings settings;
  int streamRows = 0;  // shape of frame 0
  int streamCols = 0;
  enhancement::AdaptiveSpeechEnhancer enhancer;
};

#endif
