// VoiceActivityDetection: decides for every frame of a two-channel spectrum
// whether speech is present.
#ifndef KOLV_ENHANCEMENT_VOICE_ACTIVITY_DETECTION_NODE_H
#define KOLV_ENHANCEMENT_VOICE_ACTIVITY_DETECTION_NODE_H

#include <string>

#include "LearningStretchCheck.h"
#include "Node.h"
#include "SpeechRecord.h"
#include "VoiceActivityDetector.h"

class VoiceActivityDetection : public KOLV::BufferedNode {
 public:
  VoiceActivityDetection(std::string nodeName, KOLV::ParameterSet params);
  ~VoiceActivityDetection() override = default;

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  static const KOLV::NodeDescription &description();

  int learningFrames() const { return noiseFrames; }

  // What a speech frame's source record holds: it marks the frame, it
  // measures nothing.
  static constexpr int kSpeechSourceId = enhancement::kSpeechSourceId;

 private:
  // The band of this frame's input, after checking that the input fits it.
  enhancement::SpeechBand checkedBand(int count, int rows, int cols);
  void warnOfFlatNoise(const enhancement::SpeechBand &band) const;
  void warnOfUnusableFrame(int count);
  // Once, after learning: the learning frames' level rose sharply.
  void warnOfSpeechWhileLearning() const;

  int inputID;
  int outputID;
  int advance;
  int samplingRate;
  float noiseDuration;
  int noiseFrames;
  float threshold;
  int streamCols = 0;  // columns of frame 0
  bool warnedWhileLearning = false;
  bool warnedWhileDetecting = false;
  enhancement::VoiceActivityDetector detector;
  enhancement::LearningStretchCheck learningCheck;  // the learning frames' levels
};

#endif
