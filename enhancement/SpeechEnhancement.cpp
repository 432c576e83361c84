#include "SpeechEnhancement.h"

#include <complex>

#include "Matrix.h"
#include "NoisePeriod.h"
#include "RealTransform.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

const char kRegenerationOn[] = "USE";

std::string sizeText(int rows, int cols) {
  return std::to_string(rows) + " x " + std::to_string(cols);
}

}  // namespace

const KOLV::NodeDescription &SpeechEnhancement::description() {
  using KOLV::ValueType;
  static const KOLV::NodeDescription d{
      "Removes stationary background noise from a spectrum, learnt over the first frames",
      {{"NOISY_SPEECH_SPECTRUM", "Matrix<complex<float>>",
        "noisy spectrum: one row per channel, bins 0 .. N/2 of an N-point transform"}},
      {{"SPEECH_EHANCED_SPECTRUM", "Matrix<complex<float>>",
        "enhanced spectrum of the same size; all zero during the noise period"}},
      {{"NOISE_REDUCTION_METHOD", ValueType::String, "",
        "gain rule: SPECTRAL_SUBTRACTION, WIENER_FILTERING, TWO_STEP_WIENER_FILTERING or "
        "MINIMUM_MEAN_SQUARE_ERROR (any other value silences the output)"},
       {"HARMONIC_REGENERATION", ValueType::String, "",
        "USE to regenerate the harmonics of voiced speech after the gain rule; anything else "
        "switches it off"},
       {"NOISE_PERIOD", ValueType::Float, "s",
        "length of the noise-only lead-in over which the noise is learnt"},
       {"ADVANCE", ValueType::Int, "samples", "frame shift"},
       {"SAMPLING_RATE", ValueType::Int, "Hz", "sampling rate"}}};
  return d;
}

SpeechEnhancement::SpeechEnhancement(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput("NOISY_SPEECH_SPECTRUM")),
      outputID(addOutput("SPEECH_EHANCED_SPECTRUM")),
      noiseReductionMethod(
          KOLV::dereference_cast<KOLV::String>(parameters.get("NOISE_REDUCTION_METHOD"))),
      harmonicRegeneration(
          KOLV::dereference_cast<KOLV::String>(parameters.get("HARMONIC_REGENERATION"))),
      noisePeriod(KOLV::dereference_cast<float>(parameters.get("NOISE_PERIOD"))),
      advance(KOLV::dereference_cast<int>(parameters.get("ADVANCE"))),
      samplingRate(KOLV::dereference_cast<int>(parameters.get("SAMPLING_RATE"))),
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
