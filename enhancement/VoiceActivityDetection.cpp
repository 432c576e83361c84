#include "VoiceActivityDetection.h"

#include <complex>
#include <iostream>

#include "GenericType.h"
#include "Matrix.h"
#include "NoisePeriod.h"
#include "SpeechRecord.h"
#include "Vector.h"

namespace {

using Spectrum = KOLV::Matrix<std::complex<float>>;

constexpr int kChannels = 2;

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &advance =
      add(KOLV::advanceParameter("frame shift"));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::samplingRateParameter("sampling rate"));
  const KOLV::ParameterInfo &noiseDuration =
      add(KOLV::floatParameter(
              "VAD_NOISE_DURATION", "s",
              "length of the noise-only lead-in over which the noise statistics are learnt")
              .atLeast(0.0)
              .learnsAtStart());
  const KOLV::ParameterInfo &threshold =
      add(KOLV::floatParameter(
          "VAD_THRESHOLD", "",
          "a frame is speech when its mean log-likelihood statistic exceeds this (e.g. 2.0)"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &VoiceActivityDetection::description() {
  static const KOLV::NodeDescription d{
      "Decides per frame whether speech is present, from the 300-3400 Hz band of two channels",
      {{"AUDIO_SPECTRUM", "Matrix<complex<float>>",
        "spectrum with at least two rows (rows 0 and 1 are used), bins 0 .. N/2", 2}},
      {{"VAD_DECISION", "Vector<ObjectRef>",
        "empty when the frame is not speech; one Source (id 777) when it is"}},
      declared().entries()};
  return d;
}

VoiceActivityDetection::VoiceActivityDetection(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(nodeName, params),
      inputID(addInput("AUDIO_SPECTRUM")),
      outputID(addOutput("VAD_DECISION")),
      advance(declared().advance.readInt(parameters)),
      samplingRate(declared().samplingRate.readInt(parameters)),
      noiseDuration(declared().noiseDuration.readFloat(parameters)),
      noiseFrames(enhancement::noiseLearningFrames(noiseDuration, advance, samplingRate)),
      threshold(declared().threshold.readFloat(parameters)),
      detector(noiseFrames, threshold) {
  processInOrder = true;
  if (noiseFrames == 1)
    std::cerr << "VoiceActivityDetection node '" << getName() << "': warning: VAD_NOISE_DURATION "
              << noiseDuration << " s is at most one frame (ADVANCE " << advance
              << ", SAMPLING_RATE " << samplingRate
              << "); one frame shows no variation of the noise, so no frame will be "
                 "detected as speech\n";
}

enhancement::SpeechBand VoiceActivityDetection::checkedBand(int count, int rows, int cols) {
  auto refuse = [&](const std::string &reason) {
    return new KOLV::GeneralException("VoiceActivityDetection node '" + getName() + "', frame " +
                                          std::to_string(count) + ": input AUDIO_SPECTRUM is " +
                                          std::to_string(rows) + " x " + std::to_string(cols) +
                                          "; " + reason,
                                      __FILE__, __LINE__);
  };
  if (rows < kChannels) throw refuse("it needs at least two rows (two channels)");
  if (count == 0) streamCols = cols;
  if (cols != streamCols)
    throw refuse("it had " + std::to_string(streamCols) + " columns at frame 0");
  const std::string misfit = enhancement::speechBandMisfit(samplingRate, cols);
  if (!misfit.empty()) throw refuse(misfit);
  return enhancement::SpeechBand::of(samplingRate, cols);
}

void VoiceActivityDetection::warnOfFlatNoise(const enhancement::SpeechBand &band) const {
  const int flat = detector.zeroDeviationBins(band);
  if (flat == 0) {
    warnOfSpeechWhileLearning();
    return;
  }
  std::cerr << "VoiceActivityDetection node '" << getName() << "': warning: " << flat << " of "
            << band.width() << " band bins had constant power over the " << noiseFrames
            << " noise-learning frame(s) (digital silence?); their statistic is undefined, so "
               "no frame will be detected as speech\n";
}

void VoiceActivityDetection::warnOfSpeechWhileLearning() const {
  if (learningCheck.finding() != enhancement::LearningStretchCheck::Finding::LevelRise) return;
  std::cerr << "VoiceActivityDetection node '" << getName() << "': warning: the level rises by "
            << static_cast<int>(learningCheck.riseDb()) << " dB within the " << noiseFrames
            << " noise-learning frame(s) (VAD_NOISE_DURATION " << noiseDuration
            << " s), so they hold more than noise (speech?); what they hold is taken for noise, "
               "so speech may be missed and steady noise called speech. Begin the recording with "
               "that long a stretch of noise alone, or use AdaptiveVoiceActivityDetection, which "
               "needs none\n";
}

// A damaged frame (a NaN or infinite bin, or values so large that their power
// overflows) is left out of the noise statistics while learning and is not
// speech later, so it spoils no other frame. Warned once per phase, since a
// damaged recording may hold many such frames.
void VoiceActivityDetection::warnOfUnusableFrame(int count) {
  const bool learning = count < noiseFrames;
  bool &warned = learning ? warnedWhileLearning : warnedWhileDetecting;
  if (warned) return;
  warned = true;
  std::cerr << "VoiceActivityDetection node '" << getName() << "', frame " << count
            << ": warning: the input holds non-finite or overflowing values in "
            << enhancement::speechBandText() << "; " << (learning ? "the frame is left out of the noise statistics" : "it is not speech")
            << " (later such frames are not reported)\n";
}

void VoiceActivityDetection::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  const enhancement::SpeechBand band = checkedBand(count, input->nrows(), input->ncols());
  if (count == 0) detector.start(input->ncols() - 1);
  if (count < noiseFrames) learningCheck.observe(input->data(), input->nrows() * input->ncols());
  if (count != noiseFrames &&
      !enhancement::VoiceActivityDetector::finiteBand(band, input->row(0), input->row(1)))
    warnOfUnusableFrame(count);
  const bool speech = detector.decide(count, band, input->row(0), input->row(1));
  if (count == noiseFrames) warnOfFlatNoise(band);

  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> decision(new KOLV::Vector<KOLV::ObjectRef>());
  out[count] = decision;
  if (speech) decision->push_back(enhancement::speechRecord());
}
