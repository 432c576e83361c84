// Seconds of noise learning to a number of frames, as both the enhancer and
// the voice activity detector count them.
#ifndef KOLV_ENHANCEMENT_NOISE_PERIOD_H
#define KOLV_ENHANCEMENT_NOISE_PERIOD_H

namespace enhancement {

// Frames in `seconds` at one frame per `advance` samples of `samplingRate`
// Hz, truncated, at least 1. Single precision, divided before multiplied. A
// period that is not finite or too long for an int (ADVANCE 0, say) gives 1.
inline int noiseLearningFrames(float seconds, int advance, int samplingRate) {
  constexpr float kIntLimit = 2147483648.0f;  // 2^31
  float frames = seconds / static_cast<float>(advance) * static_cast<float>(samplingRate);
  if (!(frames >= 1.0f && frames < kIntLimit)) return 1;
  return static_cast<int>(frames);
}

}  // namespace enhancement

#endif
