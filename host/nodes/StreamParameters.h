// Declarations of the parameters the framework's nodes have in common: the
// stream's rate, frame shift and frame length, the window and the file.
#ifndef KOLV_HOST_STREAM_PARAMETERS_H
#define KOLV_HOST_STREAM_PARAMETERS_H

#include <string>

#include "NodeDescription.h"

namespace KOLV::host {

// The stream kolv's example networks use: 16 kHz, 512-sample frames every
// 10 ms.
constexpr int kDefaultSamplingRate = 16000;
constexpr int kDefaultFrameLength = 512;
constexpr int kDefaultAdvance = 160;

inline ParameterInfo samplingRateParameter(const std::string &meaning) {
  return intParameter("SAMPLING_RATE", "Hz", meaning)
      .above(0)
      .fromStream(StreamProperty::SamplingRate);
}

inline ParameterInfo advanceParameter(const std::string &meaning) {
  return intParameter("ADVANCE", "samples", meaning).above(0).fromStream(StreamProperty::Advance);
}

inline ParameterInfo lengthParameter(const std::string &meaning) {
  return intParameter("LENGTH", "samples", meaning).atLeast(2).fromStream(StreamProperty::Length);
}

inline ParameterInfo windowParameter(const std::string &meaning) {
  return stringParameter("WINDOW", "", meaning).oneOf({"HANN", "HAMMING", "RECTANGLE"}).byDefault("HANN");
}

inline ParameterInfo fileParameter(const std::string &meaning) {
  return stringParameter("FILE", "", meaning);
}

}  // namespace KOLV::host

#endif
