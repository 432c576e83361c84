// Whether the stretch at the start of a recording, from which a node learns
// its noise once, looks like noise alone. Digital silence, or a level that
// rises sharply within the stretch (a talker starting), means the node
// learnt nothing or learnt speech; the nodes then say so once.
#ifndef KOLV_ENHANCEMENT_LEARNING_STRETCH_CHECK_H
#define KOLV_ENHANCEMENT_LEARNING_STRETCH_CHECK_H

#include <complex>
#include <string>

namespace enhancement {

class LearningStretchCheck {
 public:
  // A frame whose power exceeds the quietest earlier one by this much: steady
  // noise over hundreds of bins varies by about 1 dB from frame to frame.
  static constexpr double kRiseLimitDb = 10.0;

  enum class Finding { Noise, DigitalSilence, LevelRise };

  // One learning frame, `count` values; a frame that is not finite is left out.
  void observe(const std::complex<float> *values, int count);

  Finding finding() const;
  // Largest rise of a frame's power over the quietest earlier frame, in dB
  // (infinite after a frame of digital silence).
  double riseDb() const;

 private:
  double quietest_ = -1.0;  // power of the quietest frame so far; negative before the first
  double largestRise_ = 1.0;
  bool anySound_ = false;
};

}  // namespace enhancement

#endif
