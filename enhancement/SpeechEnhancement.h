// SpeechEnhancement: removes stationary background noise from a
// multi-channel short-time spectrum, frame by frame.
#ifndef KOLV_ENHANCEMENT_SPEECH_ENHANCEMENT_NODE_H
#define KOLV_ENHANCEMENT_SPEECH_ENHANCEMENT_NODE_H

#include <string>

#include "GenericType.h"
#include "LearningStretchCheck.h"
#include "Node.h"
#include "SpeechEnhancer.h"

class SpeechEnhancement : public KOLV::BufferedNode {
 public:
  SpeechEnhancement(std::string nodeName, KOLV::ParameterSet params);
  ~SpeechEnhancement() override = default;

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  static const KOLV::NodeDescription &description();

  int learningFrames() const { return noiseFrames; }

 private:
  // Sizes the enhancer from frame 0, and holds later frames to that size.
  void checkShape(int count, int rows, int cols);
  // Once, at the last learning frame: the learnt stretch was not noise alone.
  void warnOfSpeechWhileLearning() const;

  int inputID;
  int outputID;
  KOLV::String noiseReductionMethod;
  KOLV::String harmonicRegeneration;
  float noisePeriod;  // seconds
  int advance;
  int samplingRate;
  int noiseFrames;
  int streamRows = 0;  // shape of frame 0
  int streamCols = 0;
  enhancement::SpeechEnhancer enhancer;
  enhancement::LearningStretchCheck learningCheck;  // the learning frames' levels
};

#endif
