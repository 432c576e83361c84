#include "AdaptiveVoiceActivityDetection.h"

#include <cmath>
#include <complex>

#include "Matrix.h"
#include "NodeDescription.h"
#include "SpeechRecord.h"
#include "Vector.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &threshold =
      add(KOLV::floatParameter("LIKELIHOOD_THRESHOLD", "",
                               "a frame is speech when the log of its smoothed likelihood ratio "
                               "exceeds this; higher gives fewer false alarms")
              .byDefault(1.7f));
  const KOLV::ParameterInfo &hangover =
      add(KOLV::floatParameter("HANGOVER", "s", "how long a speech decision is held after the "
                                                "evidence for speech ends")
              .atLeast(0.0)
              .atMost(10.0)
              .byDefault(0.15f));
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift").byDefault(160));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate").byDefault(16000));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

int framesIn(float seconds, int advance, int samplingRate) {
  const double frames = std::round(static_cast<double>(seconds) * samplingRate / advance);
  return static_cast<int>(std::min<double>(frames, 1 << 20));
}

enhancement::AdaptiveDetectorSettings settingsFrom(const KOLV::ParameterSet &parameters,
                                                   const std::string &who) {
  const Parameters &p = declared();
  enhancement::AdaptiveDetectorSettings s;
  s.threshold = p.threshold.readFloat(parameters);
  const float hangover = p.hangover.readFloat(parameters);
  const int advance = p.advance.readInt(parameters);
  const int samplingRate = p.samplingRate.readInt(parameters);
  p.validate(parameters, who);
  s.hangoverFrames = framesIn(hangover, advance, samplingRate);
  s.tracker = s.tracker.forFrameShift(static_cast<double>(advance) / samplingRate);
  return s;
}

}  // namespace

const KOLV::NodeDescription &AdaptiveVoiceActivityDetection::description() {
  static const KOLV::NodeDescription d{
      "Decides per frame whether speech is present, against noise tracked in every frame (no "
      "noise-only lead-in needed), from the 300-3400 Hz band of two channels",
      {{"AUDIO_SPECTRUM", "Matrix<complex<float>>",
        "spectrum with at least two rows (rows 0 and 1 are used), bins 0 .. N/2", 2}},
      {{"VAD_DECISION", "Vector<ObjectRef>",
        "empty when the frame is not speech; one Source (id 777) when it is"}},
      declared().entries()};
  return d;
}

AdaptiveVoiceActivityDetection::AdaptiveVoiceActivityDetection(std::string nodeName,
                                                               KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput("AUDIO_SPECTRUM")),
      outputID(addOutput("VAD_DECISION")),
      samplingRate(declared().samplingRate.readInt(parameters)),
      settings(settingsFrom(parameters, "AdaptiveVoiceActivityDetection node '" + nodeName + "'")),
      detector(settings) {
  processInOrder = true;
}

enhancement::SpeechBand AdaptiveVoiceActivityDetection::checkedBand(int count, int rows,
                                                                    int cols) {
  auto refuse = [&](const std::string &reason) {
    return new KOLV::GeneralException("AdaptiveVoiceActivityDetection node '" + getName() +
                                          "', frame " + std::to_string(count) +
                                          ": input AUDIO_SPECTRUM is " + std::to_string(rows) +
                                          " x " + std::to_string(cols) + "; " + reason,
                                      __FILE__, __LINE__);
  };
  if (rows < 2) throw refuse("it needs at least two rows (two channels)");
  if (count == 0) streamCols = cols;
  if (cols != streamCols)
    throw refuse("it had " + std::to_string(streamCols) + " columns at frame 0");
  const std::string misfit = enhancement::speechBandMisfit(samplingRate, cols);
  if (!misfit.empty()) throw refuse(misfit);
  const enhancement::SpeechBand band = enhancement::SpeechBand::of(samplingRate, cols);
  if (band.width() <= 0)
    throw refuse("at SAMPLING_RATE " + std::to_string(samplingRate) + " Hz " +
                 enhancement::speechBandText() + " lies within one bin");
  return band;
}

void AdaptiveVoiceActivityDetection::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  const enhancement::SpeechBand band = checkedBand(count, input->nrows(), input->ncols());
  if (count == 0) detector.start(band);
  const bool speech = detector.decide(input->row(0), input->row(1));
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> decision(new KOLV::Vector<KOLV::ObjectRef>());
  out[count] = decision;
  if (speech) decision->push_back(enhancement::speechRecord());
}
