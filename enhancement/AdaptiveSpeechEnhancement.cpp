#include "AdaptiveSpeechEnhancement.h"

#include <cmath>
#include <complex>

#include "Matrix.h"
#include "NodeDescription.h"
#include "SpectrumShape.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

const char kInputPort[] = "NOISY_SPEECH_SPECTRUM";

const char kOn[] = "USE";
const char kOff[] = "NO";

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &gainFloor =
      add(KOLV::floatParameter("GAIN_FLOOR", "dB", "gain of a bin where speech is absent")
              .atLeast(-60.0)
              .atMost(0.0)
              .byDefault(-34.0f));
  const KOLV::ParameterInfo &sharedGain =
      add(KOLV::stringParameter("SHARED_GAIN", "",
                                "USE: one noise track and one gain for all channels (keeps the "
                                "interaural cues); NO: each channel its own")
              .oneOf({kOn, kOff})
              .byDefault(kOn));
  const KOLV::ParameterInfo &regeneration =
      add(KOLV::stringParameter("HARMONIC_REGENERATION", "",
                                "USE to regenerate the harmonics of voiced speech after the gain")
              .oneOf({kOn, kOff})
              .byDefault(kOff));
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift").byDefault(160));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate").byDefault(16000));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

enhancement::AdaptiveEnhancerSettings settingsFrom(const KOLV::ParameterSet &parameters,
                                                   const std::string &who) {
  const Parameters &p = declared();
  enhancement::AdaptiveEnhancerSettings s;
  const float floorDb = p.gainFloor.readFloat(parameters);
  s.sharedGain = p.sharedGain.readString(parameters) == kOn;
  s.regenerateHarmonics = p.regeneration.readString(parameters) == kOn;
  const int advance = p.advance.readInt(parameters);
  const int samplingRate = p.samplingRate.readInt(parameters);
  p.validate(parameters, who);
  s.gainFloor = std::pow(10.0f, floorDb / 20.0f);
  s.samplingRate = samplingRate;
  s.frameShift = static_cast<double>(advance) / samplingRate;
  s.tracker = s.tracker.forFrameShift(s.frameShift);
  return s;
}

}  // namespace

const KOLV::NodeDescription &AdaptiveSpeechEnhancement::description() {
  static const KOLV::NodeDescription d{
      "Removes background noise from a spectrum, tracking the noise in every frame (no "
      "noise-only lead-in needed)",
      {{kInputPort, "Matrix<complex<float>>",
        "noisy spectrum: one row per channel, bins 0 .. N/2 of an N-point transform"}},
      {{"SPEECH_EHANCED_SPECTRUM", "Matrix<complex<float>>",
        "enhanced spectrum of the same size"}},
      declared().entries()};
  return d;
}

AdaptiveSpeechEnhancement::AdaptiveSpeechEnhancement(std::string nodeName,
                                                     KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput(kInputPort)),
      outputID(addOutput("SPEECH_EHANCED_SPECTRUM")),
      settings(settingsFrom(parameters, "AdaptiveSpeechEnhancement node '" + nodeName + "'")),
      enhancer(settings) {
  processInOrder = true;
}

void AdaptiveSpeechEnhancement::checkShape(int count, int rows, int cols) {
  auto refuse = [&](const std::string &reason) {
    return new KOLV::GeneralException("AdaptiveSpeechEnhancement node '" + getName() +
                                          "', frame " + std::to_string(count) + ": " + reason,
                                      __FILE__, __LINE__);
  };
  if (count > 0) {
    const std::string change = enhancement::shapeChange(kInputPort, streamRows, streamCols, rows, cols);
    if (!change.empty()) throw refuse(change);
    return;
  }
  if (rows < 1 || cols < 2)
    throw refuse("input " + std::string(kInputPort) + " is " + enhancement::shapeText(rows, cols) +
                 "; a spectrum needs at least one row and two columns");
  const int bins = cols - 1;
  if (settings.regenerateHarmonics) {
    const std::string misfit = enhancement::regenerationMisfit(kInputPort, cols);
    if (!misfit.empty()) throw refuse(misfit);
  }
  streamRows = rows;
  streamCols = cols;
  enhancer.start(rows, bins);
}

void AdaptiveSpeechEnhancement::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  const int rows = input->nrows();
  const int cols = input->ncols();
  checkShape(count, rows, cols);
  KOLV::RCPtr<Spectrum> output(new Spectrum(rows, cols));
  out[count] = output;
  enhancer.process(input->data(), output->data());
}
