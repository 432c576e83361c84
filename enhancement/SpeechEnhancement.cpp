#include "SpeechEnhancement.h"

#include <complex>
#include <iostream>

#include "Matrix.h"
#include "NoisePeriod.h"
#include "SpectrumShape.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

const char kInputPort[] = "NOISY_SPEECH_SPECTRUM";

const char kRegenerationOn[] = "USE";
const char kRegenerationOff[] = "NO";


// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &method =
      add(KOLV::stringParameter("NOISE_REDUCTION_METHOD", "",
                                "gain rule (any other value silences the output)")
              .knownValues({enhancement::kSpectralSubtractionName,
                            enhancement::kWienerFilteringName,
                            enhancement::kTwoStepWienerFilteringName,
                            enhancement::kMinimumMeanSquareErrorName}));
  const KOLV::ParameterInfo &regeneration =
      add(KOLV::stringParameter("HARMONIC_REGENERATION", "",
                                "USE to regenerate the harmonics of voiced speech after the gain "
                                "rule; NO (or any other value) switches it off")
              .knownValues({kRegenerationOn, kRegenerationOff}));
  const KOLV::ParameterInfo &noisePeriod =
      add(KOLV::floatParameter("NOISE_PERIOD", "s",
                               "length of the noise-only lead-in over which the noise is learnt")
              .atLeast(0.0)
              .learnsAtStart());
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift"));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &SpeechEnhancement::description() {
  static const KOLV::NodeDescription d{
      "Removes stationary background noise from a spectrum, learnt over the first frames",
      {{kInputPort, "Matrix<complex<float>>",
        "noisy spectrum: one row per channel, bins 0 .. N/2 of an N-point transform"}},
      {{"SPEECH_EHANCED_SPECTRUM", "Matrix<complex<float>>",
        "enhanced spectrum of the same size; all zero during the noise period"}},
      declared().entries()};
  return d;
}

SpeechEnhancement::SpeechEnhancement(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput(kInputPort)),
      outputID(addOutput("SPEECH_EHANCED_SPECTRUM")),
      noiseReductionMethod(declared().method.readString(parameters)),
      harmonicRegeneration(declared().regeneration.readString(parameters)),
      noisePeriod(declared().noisePeriod.readFloat(parameters)),
      advance(declared().advance.readInt(parameters)),
      samplingRate(declared().samplingRate.readInt(parameters)),
      noiseFrames(enhancement::noiseLearningFrames(noisePeriod, advance, samplingRate)),
      enhancer(enhancement::gainRuleNamed(noiseReductionMethod),
               harmonicRegeneration == kRegenerationOn, noiseFrames) {
  processInOrder = true;
}

void SpeechEnhancement::checkShape(int count, int rows, int cols) {
  auto refuse = [&](const std::string &reason) {
    return new KOLV::GeneralException("SpeechEnhancement node '" + getName() + "', frame " +
                                          std::to_string(count) + ": " + reason,
                                      __FILE__, __LINE__);
  };
  if (count > 0) {
    const std::string change = enhancement::shapeChange(kInputPort, streamRows, streamCols, rows, cols);
    if (!change.empty()) throw refuse(change);
    return;
  }
  if (cols < 1)
    throw refuse("input " + std::string(kInputPort) + " is " + enhancement::shapeText(rows, cols) +
                 "; a spectrum needs at least one column");
  const int bins = cols - 1;
  if (harmonicRegeneration == kRegenerationOn) {
    const std::string misfit = enhancement::regenerationMisfit(kInputPort, cols);
    if (!misfit.empty()) throw refuse(misfit);
  }
  streamRows = rows;
  streamCols = cols;
  enhancer.start(rows, bins);
}

void SpeechEnhancement::warnOfSpeechWhileLearning() const {
  using Finding = enhancement::LearningStretchCheck::Finding;
  const Finding finding = learningCheck.finding();
  if (finding == Finding::Noise) return;
  std::cerr << "SpeechEnhancement node '" << getName() << "': warning: the " << noiseFrames
            << " noise-learning frame(s) (NOISE_PERIOD " << noisePeriod << " s) ";
  if (finding == Finding::DigitalSilence)
    std::cerr << "are digital silence: no noise is learnt, so every bin passes through "
                 "unchanged (no enhancement)";
  else
    std::cerr << "hold more than noise (speech?): the level rises by "
              << static_cast<int>(learningCheck.riseDb())
              << " dB within them. What they hold is taken for noise, so speech is damaged and "
                 "the noise that follows is under-suppressed";
  std::cerr << ". Begin the recording with that long a stretch of noise alone, or use "
               "AdaptiveSpeechEnhancement, which needs none\n";
}

void SpeechEnhancement::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  const int rows = input->nrows();
  const int cols = input->ncols();
  checkShape(count, rows, cols);
  KOLV::RCPtr<Spectrum> output(new Spectrum(rows, cols));
  out[count] = output;
  enhancer.process(count, input->data(), output->data());
  if (count < noiseFrames) {
    learningCheck.observe(input->data(), rows * cols);
    if (count == noiseFrames - 1) warnOfSpeechWhileLearning();
  }
}
