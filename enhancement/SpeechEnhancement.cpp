#include "SpeechEnhancement.h"

#include <complex>

#include "Matrix.h"
#include "NoisePeriod.h"
#include "RealTransform.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

const char kRegenerationOn[] = "USE";
const char kRegenerationOff[] = "NO";

std::string sizeText(int rows, int cols) {
  return std::to_string(rows) + " x " + std::to_string(cols);
}


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
      add(KOLV::intParameter("ADVANCE", "samples", "frame shift")
              .above(0)
              .fromStream(KOLV::StreamProperty::Advance));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::intParameter("SAMPLING_RATE", "Hz", "sampling rate")
              .above(0)
              .fromStream(KOLV::StreamProperty::SamplingRate));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &SpeechEnhancement::description() {
  static const KOLV::NodeDescription d{
      "Removes stationary background noise from a spectrum, learnt over the first frames",
      {{"NOISY_SPEECH_SPECTRUM", "Matrix<complex<float>>",
        "noisy spectrum: one row per channel, bins 0 .. N/2 of an N-point transform"}},
      {{"SPEECH_EHANCED_SPECTRUM", "Matrix<complex<float>>",
        "enhanced spectrum of the same size; all zero during the noise period"}},
      declared().entries()};
  return d;
}

SpeechEnhancement::SpeechEnhancement(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput("NOISY_SPEECH_SPECTRUM")),
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
    if (rows != streamRows || cols != streamCols)
      throw refuse("input NOISY_SPEECH_SPECTRUM changed size from " +
                   sizeText(streamRows, streamCols) + " at frame 0 to " + sizeText(rows, cols));
    return;
  }
  if (cols < 1)
    throw refuse("input NOISY_SPEECH_SPECTRUM is " + sizeText(rows, cols) +
                 "; a spectrum needs at least one column");
  const int bins = cols - 1;
  if (harmonicRegeneration == kRegenerationOn &&
      !enhancement::RealTransform::isValidHalfLength(bins))
    throw refuse("HARMONIC_REGENERATION needs a transform length that is a power of two (at "
                 "least 4), but input NOISY_SPEECH_SPECTRUM has " +
                 std::to_string(cols) + " columns (transform length " +
                 std::to_string(2 * bins) + ")");
  streamRows = rows;
  streamCols = cols;
  enhancer.start(rows, bins);
}

void SpeechEnhancement::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  const int rows = input->nrows();
  const int cols = input->ncols();
  checkShape(count, rows, cols);
  KOLV::RCPtr<Spectrum> output(new Spectrum(rows, cols));
  out[count] = output;
  enhancer.process(count, input->data(), output->data());
}
