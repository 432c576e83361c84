#include "BinauralMultisourceLocalization.h"

#include <cmath>
#include <iostream>
#include <sstream>

#include "GenericType.h"
#include "PeakPicking.h"
#include "Source.h"
#include "SpatialSpectrum.h"
#include "Vector.h"

using namespace localization;

namespace localization {

BandEdges bandEdges(float frequencyLow, float frequencyHigh, int samplingRate, int cols) {
  BandEdges band;
  band.binSpacing = static_cast<float>((samplingRate / 2) / (cols - 1));
  band.lowBin = std::trunc(frequencyLow / band.binSpacing);
  band.highBin = std::trunc(frequencyHigh / band.binSpacing);
  return band;
}

float noiseFrameQuotient(float noiseDuration, int advance, int samplingRate) {
  return std::trunc(noiseDuration / static_cast<float>(advance) * static_cast<float>(samplingRate));
}

}  // namespace localization

namespace {

// The largest float below 2^31: more noise frames than this do not fit an int.
constexpr float kMaxFrameQuotient = 2147483520.0f;

std::string describe(const std::string &nodeName) {
  return "BinauralMultisourceLocalization '" + nodeName + "'";
}

}  // namespace

namespace {

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const KOLV::ParameterInfo &micsDistance =
      add(KOLV::floatParameter("MICS_DISTANCE", "cm",
                               "distance between the microphones (the spherical head's diameter)")
              .above(0.0));
  const KOLV::ParameterInfo &gccphatThreshold =
      add(KOLV::floatParameter("GCCPHAT_THRESHOLD", "",
                               "a peak of the spatial spectrum (-1 to 1) is reported only above this")
              .atLeast(-1.0)
              .below(1.0));
  const KOLV::ParameterInfo &delayModel =
      add(KOLV::stringParameter("SOUND_DIFFRACTION_COMPENSATION", "",
                                "delay model: FREE_SPACE or SPHERICAL_HEAD")
              .oneOf({kFreeSpaceName, kSphericalHeadName}));
  const KOLV::ParameterInfo &advance =
      add(KOLV::intParameter("ADVANCE", "samples", "frame shift")
              .above(0)
              .fromStream(KOLV::StreamProperty::Advance));
  const KOLV::ParameterInfo &samplingRate =
      add(KOLV::intParameter("SAMPLING_RATE", "Hz", "sampling rate")
              .above(0)
              .fromStream(KOLV::StreamProperty::SamplingRate));
  const KOLV::ParameterInfo &frequencyHigh =
      add(KOLV::floatParameter("FREQUENCY_HIGH", "Hz", "upper edge of the analysed band")
              .above(0.0));
  const KOLV::ParameterInfo &frequencyLow =
      add(KOLV::floatParameter("FREQUENCY_LOW", "Hz", "lower edge of the analysed band")
              .atLeast(0.0));
  const KOLV::ParameterInfo &noiseDuration =
      add(KOLV::floatParameter("NOISE_DURATION", "s",
                               "length of the noise-learning period at the start of the stream")
              .atLeast(0.0)
              .learnsAtStart());
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &BinauralMultisourceLocalization::description() {
  static const KOLV::NodeDescription table{
      "Per-frame azimuths (-90 to +90 degrees) of sound sources from a two-channel spectrum, "
      "by noise-weighted GCC-PHAT",
      {{"AUDIO_SPECTRUM", "Matrix<complex<float>>",
        "spectrum, row 0 the left (first) microphone, row 1 the right (second)", 2}},
      {{"ESTIMATED_DOA", "Vector<ObjectRef>",
        "one Source per detected peak, in increasing azimuth; empty while the noise is learnt"}},
      declared().entries()};
  return table;
}

BinauralMultisourceLocalization::BinauralMultisourceLocalization(std::string nodeName,
                                                                 KOLV::ParameterSet params)
    : BufferedNode(nodeName, params) {
  spectrumID = addInput("AUDIO_SPECTRUM");
  doaID = addOutput("ESTIMATED_DOA");

  const Parameters &p = declared();
  micsDistance = p.micsDistance.readFloat(parameters);
  gccphatThreshold = p.gccphatThreshold.readFloat(parameters);
  const std::string model = p.delayModel.readString(parameters);
  advance = p.advance.readInt(parameters);
  samplingRate = p.samplingRate.readInt(parameters);
  frequencyHigh = p.frequencyHigh.readFloat(parameters);
  frequencyLow = p.frequencyLow.readFloat(parameters);
  noiseDuration = p.noiseDuration.readFloat(parameters);

  if (!parseDelayModel(model, delayModel))
    throw new KOLV::GeneralException(describe(getName()) +
                                         ": SOUND_DIFFRACTION_COMPENSATION is \"" + model +
                                         "\"; it must be \"" + kFreeSpaceName + "\" or \"" +
                                         kSphericalHeadName + "\"",
                                     __FILE__, __LINE__);
  if (advance <= 0 || samplingRate <= 0)
    throw new KOLV::GeneralException(describe(getName()) + ": ADVANCE (" +
                                         std::to_string(advance) + ") and SAMPLING_RATE (" +
                                         std::to_string(samplingRate) + ") must be positive",
                                     __FILE__, __LINE__);

  const float frames = noiseFrameQuotient(noiseDuration, advance, samplingRate);
  if (frames > kMaxFrameQuotient)
    throw new KOLV::GeneralException(describe(getName()) + ": NOISE_DURATION " +
                                         std::to_string(noiseDuration) +
                                         " s is too long a noise-learning period",
                                     __FILE__, __LINE__);
  // Fewer than one frame (or not a number) still learns from frame 0.
  noiseFrames_ = frames >= 1.0f ? static_cast<int>(frames) : 1;

  processInOrder = true;
}

BinauralMultisourceLocalization::~BinauralMultisourceLocalization() = default;

void BinauralMultisourceLocalization::fail(int count, const std::string &what) const {
  throw new KOLV::GeneralException(
      describe(getName()) + ", frame " + std::to_string(count) + ": " + what, __FILE__, __LINE__);
}

void BinauralMultisourceLocalization::checkShape(const Spectrum &spectrum, int count) const {
  if (spectrum.nrows() < 2)
    fail(count, "input AUDIO_SPECTRUM has " + std::to_string(spectrum.nrows()) +
                    " row(s); it needs two channels");
  if (count > 0 && spectrum.ncols() != cols)
    fail(count, "input AUDIO_SPECTRUM has " + std::to_string(spectrum.ncols()) +
                    " columns, but frame 0 had " + std::to_string(cols));
}

void BinauralMultisourceLocalization::setUpBand(const Spectrum &spectrum, int count) {
  cols = spectrum.ncols();
  if (cols < 2) fail(count, "input AUDIO_SPECTRUM has " + std::to_string(cols) +
                                " column(s); a spectrum needs at least 2");
  const BandEdges band = bandEdges(frequencyLow, frequencyHigh, samplingRate, cols);
  if (band.binSpacing <= 0.0f)
    fail(count, "SAMPLING_RATE " + std::to_string(samplingRate) +
                    " Hz is too low for a spectrum of " + std::to_string(cols) +
                    " columns (bin spacing 0 Hz)");
  if (!(band.lowBin >= 0.0f) || !(band.highBin <= static_cast<float>(cols - 1))) {
    std::ostringstream what;
    what << "the band FREQUENCY_LOW " << frequencyLow << " Hz to FREQUENCY_HIGH " << frequencyHigh
         << " Hz gives lowBin " << band.lowBin << " and highBin " << band.highBin
         << " (bin spacing " << band.binSpacing << " Hz at SAMPLING_RATE " << samplingRate
         << "); a spectrum of " << cols << " columns needs lowBin >= 0 and highBin <= " << cols - 1;
    fail(count, what.str());
  }
  if (band.highBin > band.lowBin) {
    lowBin = static_cast<int>(band.lowBin);
    highBin = static_cast<int>(band.highBin);
  } else {
    lowBin = highBin = 0;  // an empty band: the spatial spectrum stays 0
  }
  noiseLevel.assign(static_cast<size_t>(cols - 1), 0.0f);
}

// A damaged frame (a NaN or infinite bin, or values so large that they
// overflow) must not spoil the frames after it: while learning it is left out
// of the noise level, later it yields no sources. Warned once per phase, since
// a damaged recording may hold many such frames.
void BinauralMultisourceLocalization::warnOfUnusableFrame(int count, bool learning) {
  bool &warned = learning ? warnedWhileLearning : warnedWhileLocalizing;
  if (warned) return;
  warned = true;
  std::cerr << describe(getName()) << ", frame " << count
            << ": warning: the input holds non-finite or overflowing values in the analysed band; "
            << (learning ? "the frame is left out of the noise level"
                         : "the frame yields no sources")
            << " (later such frames are not reported)" << std::endl;
}

void BinauralMultisourceLocalization::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> spectrum = getInput(spectrumID, count);
  KOLV::RCPtr<KOLV::Vector<KOLV::ObjectRef>> sources(new KOLV::Vector<KOLV::ObjectRef>);
  out[count] = sources;

  checkShape(*spectrum, count);
  if (count == 0) setUpBand(*spectrum, count);
  const std::complex<float> *left = spectrum->row(0);
  const std::complex<float> *right = spectrum->row(1);

  const bool usable = finiteCrossSpectrum(left, right, lowBin, highBin);
  if (count < noiseFrames_) {
    if (!usable) {
      warnOfUnusableFrame(count, true);
      return;
    }
    accumulateNoise(left, right, lowBin, highBin, noiseLevel.data());
    ++learntFrames;
    return;
  }
  if (count == noiseFrames_) {
    // Without a single usable noise frame the level stays 0 (weight 1).
    if (learntFrames > 0) averageNoise(learntFrames, lowBin, highBin, noiseLevel.data());
    return;
  }
  if (count == noiseFrames_ + 1)
    steering = SteeringTables(delayModel, micsDistance, samplingRate, cols, lowBin, highBin);
  if (!usable) {
    warnOfUnusableFrame(count, false);
    return;
  }

  float P[kPaddedDirections];
  spatialSpectrum(left, right, noiseLevel.data(), steering, P);
  const PeakList peaks = pickPeaks(P, gccphatThreshold);
  for (int i = 0; i < peaks.count; ++i) {
    auto *source = new KOLV::Source;
    directionVector(azimuthOfDirection(peaks.peaks[i].direction), source->x);
    source->power = peaks.peaks[i].value;
    source->id = i;
    source->spare = 0;
    sources->push_back(KOLV::ObjectRef(source));
  }
}
