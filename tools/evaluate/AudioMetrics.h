// Figures on kolv's audio outputs: how much quieter the enhanced noise-only
// lead-in is, and how much the separation raises the signal-to-interference
// ratio (SIR).
#ifndef KOLV_EVALUATE_AUDIOMETRICS_H
#define KOLV_EVALUATE_AUDIOMETRICS_H

#include <cstddef>
#include <vector>

#include "Truth.h"

namespace evaluate {

using Channels = std::vector<std::vector<double>>;  // [channel][sample], full scale ±1

constexpr double kSilenceDb = -200.0;  // level reported for digital silence
constexpr double kSirLimitDb = 100.0;  // SIRs beyond ±100 dB (a perfect fit) are reported as ±100

// The lag (0 to maxLag samples) by which `output` trails `reference`: the
// peak of the cross-correlation of their channel sums. kolv's overlap-add
// delays its audio outputs by a fixed number of samples.
int estimateDelay(const Channels &output, const Channels &reference, int maxLag);

// `signal` advanced by `delay` samples and cut or padded with zeros to `length`.
Channels aligned(const Channels &signal, int delay, size_t length);

// Seconds at the start of `signal` in which every channel is exactly zero:
// the noise-learning period of an enhancement that stays silent while it
// learns. 0 when the first sample already holds sound.
double silentOpening(const Channels &signal, int samplingRate);

// RMS level in dB full scale over the samples in the stretches, all channels alike.
double levelDb(const Channels &signal, const std::vector<scenekit::Stretch> &stretches, int samplingRate);

struct NoiseReduction {
  scenekit::Stretch leadIn;  // s, before the first sound of any source
  double inputLeadInDb, outputLeadInDb;
  double reductionDb;        // input minus output over the lead-in: positive is quieter
  double inputSpeechDb, outputSpeechDb;
  double speechChangeDb;     // output minus input during speech: near 0 is speech kept
};

// The lead-in runs from `skip` to `firstSound` (s, where the first recording
// begins) or to the first speech stretch, whichever is earlier: a recording's
// own background and breaths before its first active stretch are not noise of
// the scene. Throws std::runtime_error when no lead-in is left.
NoiseReduction measureNoiseReduction(const Channels &input, const Channels &output,
                                     const std::vector<scenekit::Stretch> &speech, int samplingRate, double skip,
                                     double firstSound);

// SIR of source j in y: y is fitted by least squares as a weighted sum of
// every source image's channels; the part carried by source j's channels is
// its target, the part carried by the others the interference. Noise and
// whatever the fit cannot explain are left out.
struct BlockSir {
  double start = 0.0, end = 0.0;        // s
  std::vector<int> sourceOfOutput;      // best permutation: output channel -> source
  std::vector<double> outputSir;        // dB, per output channel
  std::vector<double> mixtureSir;       // dB, that source in the mixture, at its better ear
  double improvement = 0.0;             // dB, mean over the outputs of output minus mixture
};

// Blocks of `blockLength` samples (0: the whole signal); a block is scored
// only where every source is within 40 dB of the strongest one.
std::vector<BlockSir> measureSeparation(const Channels &separated, const Channels &mixture,
                                        const std::vector<Channels> &images, size_t blockLength, int samplingRate);

}  // namespace evaluate

#endif
