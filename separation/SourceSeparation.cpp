#include "SourceSeparation.h"

#include <climits>
#include <cmath>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace KOLV {

namespace {

const char *const kInputPort = "INPUT_AUDIO_SPECTRUM";
const char *const kOutputPort = "OUTPUT_AUDIO_SPECTRUM";

std::string sizeText(int rows, int cols) {
  return std::to_string(rows) + " x " + std::to_string(cols);
}

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : ParameterTable {
  const ParameterInfo &iterationMethod =
      add(stringParameter("ITERATION_METHOD", "",
                          "update rule; any other value leaves the whitened block unseparated")
              .knownValues({separation::kNaturalGradientMethod, separation::kFixedPointMethod}));
  const ParameterInfo &numSources =
      add(intParameter("NUMBER_OF_SOURCES_TO_BE_SEPARATED", "",
                       "N, the number of sources, 1 to the number of microphones")
              .atLeast(1));
  const ParameterInfo &maxIteration =
      add(intParameter("MAX_ITERATION", "passes",
                       "upper bound on the IVA passes per block; 0 or less: whitening only"));
  const ParameterInfo &separationTimeLength =
      add(floatParameter("SEPARATION_TIME_LENGTH", "s", "length of one separation block")
              .above(0.0));
  const ParameterInfo &advance =
      add(intParameter("ADVANCE", "samples", "frame shift")
              .above(0)
              .fromStream(StreamProperty::Advance));
  const ParameterInfo &samplingRate =
      add(intParameter("SAMPLING_RATE", "Hz", "sampling rate")
              .above(0)
              .fromStream(StreamProperty::SamplingRate));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &SourceSeparation::description() {
  static const NodeDescription table{
      "Separates a multichannel spectrum into independent sources, block by block, by "
      "independent vector analysis",
      {{kInputPort, "Matrix<complex<float>>",
        "spectrum, one row per microphone, one column per bin (the last one is ignored)"}},
      {{kOutputPort, "Matrix<complex<float>>",
        "same size as the input; row i < N is source i as heard at microphone i, other rows "
        "and the last column are zero; lags the input by up to T - 1 frames"}},
      declared().entries()};
  return table;
}

SourceSeparation::SourceSeparation(std::string nodeName, ParameterSet params)
    : BufferedNode(std::move(nodeName), params) {
  inputID = addInput(kInputPort);
  outputID = addOutput(kOutputPort);
  const Parameters &p = declared();
  iterationMethod = String(p.iterationMethod.readString(params));
  numSources = p.numSources.readInt(params);
  maxIteration = p.maxIteration.readInt(params);
  separationTimeLength = p.separationTimeLength.readFloat(params);
  advance = p.advance.readInt(params);
  samplingRate = p.samplingRate.readInt(params);

  if (numSources < 1)
    fail("NUMBER_OF_SOURCES_TO_BE_SEPARATED is " + std::to_string(numSources) +
         ", it must be at least 1");
  if (advance < 1 || samplingRate < 1)
    fail("ADVANCE (" + std::to_string(advance) + ") and SAMPLING_RATE (" +
         std::to_string(samplingRate) + ") must both be positive");
  blockFrames = computeBlockFrames();

  processInOrder = true;
  setInputLookAhead(inputID, blockFrames);
  setOutputLookAhead(outputID, blockFrames);
  separator = std::make_unique<separation::BlockSeparator>(
      separation::updateRuleNamed(iterationMethod), numSources, maxIteration);
}

SourceSeparation::~SourceSeparation() = default;

int SourceSeparation::computeBlockFrames() const {
  // Both divisions in single precision, then rounded half up in double.
  const float frameShift = static_cast<float>(advance) / static_cast<float>(samplingRate);
  const double rounded = static_cast<double>(separationTimeLength / frameShift) + 0.5;
  if (rounded >= 1.0 && rounded < static_cast<double>(INT_MAX)) return static_cast<int>(rounded);
  std::ostringstream message;
  message << "SEPARATION_TIME_LENGTH " << separationTimeLength << " s with ADVANCE " << advance
          << " and SAMPLING_RATE " << samplingRate << " gives a block of ";
  if (std::fabs(rounded) < static_cast<double>(INT_MAX))
    message << static_cast<int>(rounded) << " frames; a block needs at least 1";
  else
    message << rounded - 0.5 << " frames, which is not a usable block length";
  fail(message.str());
}

void SourceSeparation::fail(const std::string &problem, int frame) const {
  std::string where = "SourceSeparation node '" + getName() + "'";
  if (frame >= 0) where += ", frame " + std::to_string(frame);
  throw new GeneralException(where + ": " + problem, __FILE__, __LINE__);
}

void SourceSeparation::calculate(int, int count, Buffer &out) {
  RCPtr<Spectrum> input = getInput(inputID, count);
  out[count] = ObjectRef(new Spectrum(input->nrows(), input->ncols()));
  // Frames inside a block get their values when the block's first frame is
  // computed, which also computes them (nested) and fills their matrices.
  if (count % blockFrames != 0) return;
  separateBlock(count, *input);
}

void SourceSeparation::separateBlock(int first, const Spectrum &firstFrame) {
  checkBlockShape(first, firstFrame);
  const int channels = firstFrame.nrows(), columns = firstFrame.ncols();
  separator->beginBlock(channels, blockFrames, columns - 1);
  const std::string damage = readBlock(first, channels, columns);
  if (!damage.empty()) {
    silenceBlock(first, damage);
    return;
  }
  try {
    separator->separate();
  } catch (std::runtime_error &e) {
    // A decomposition fails only on a block whose values have overflowed.
    silenceBlock(first, std::string("it cannot be separated: ") + e.what());
    return;
  }
  if (!separator->separated().is_finite()) {
    silenceBlock(first, "its values are too large to separate (the separated signals overflow)");
    return;
  }
  if (separator->overflowed())
    std::cerr << "SourceSeparation node '" << getName() << "', frame " << first
              << ": the demixing matrices overflowed in IVA pass " << separator->passesRun()
              << "; the block is separated with those of the pass before" << std::endl;
  writeBlock(first);
}

// One damaged block (a non-finite value, an overflow) must not end a run
// that may last for hours: its output stays zero, the frames that follow are
// separated as usual, and the user is told which frames were lost.
void SourceSeparation::silenceBlock(int first, const std::string &reason) const {
  std::cerr << "SourceSeparation node '" << getName() << "', frames " << first << " to "
            << first + blockFrames - 1 << ": " << reason << "; the block's output is zero"
            << std::endl;
}

void SourceSeparation::checkBlockShape(int first, const Spectrum &firstFrame) const {
  const std::string size = sizeText(firstFrame.nrows(), firstFrame.ncols());
  if (firstFrame.ncols() < 1)
    fail(std::string(kInputPort) + " is " + size + ", a spectrum needs at least one column",
         first);
  if (numSources > firstFrame.nrows())
    fail("NUMBER_OF_SOURCES_TO_BE_SEPARATED is " + std::to_string(numSources) + " but " +
             kInputPort + " is " + size + ": no more sources than channels can be separated",
         first);
}

std::string SourceSeparation::readBlock(int first, int channels, int columns) {
  arma::cx_fcube &observed = separator->observed();
  std::string damage;
  for (int t = 0; t < blockFrames; ++t) {
    RCPtr<Spectrum> frame = getInput(inputID, first + t);
    checkFrameShape(first + t, *frame, channels, columns);
    if (damage.empty()) damage = nonFiniteValue(first + t, *frame, channels, columns);
    for (int c = 0; c < channels; ++c) {
      const std::complex<float> *row = frame->row(c);
      for (int k = 0; k + 1 < columns; ++k) observed.at(c, t, k) = row[k];
    }
  }
  return damage;
}

void SourceSeparation::checkFrameShape(int frame, const Spectrum &spectrum, int channels,
                                       int columns) const {
  if (spectrum.nrows() != channels || spectrum.ncols() != columns)
    fail(std::string(kInputPort) + " is " + sizeText(spectrum.nrows(), spectrum.ncols()) +
             ", unlike the " + sizeText(channels, columns) + " of its block's first frame " +
             std::to_string(frame - frame % blockFrames),
         frame);
}

std::string SourceSeparation::nonFiniteValue(int frame, const Spectrum &spectrum, int channels,
                                             int columns) {
  for (int c = 0; c < channels; ++c)
    for (int k = 0; k + 1 < columns; ++k) {
      const std::complex<float> value = spectrum(c, k);
      if (!std::isfinite(value.real()) || !std::isfinite(value.imag())) {
        std::ostringstream message;
        message << "frame " << frame << " of " << kInputPort << " holds the non-finite value "
                << value << " in channel " << c << ", bin " << k;
        return message.str();
      }
    }
  return "";
}

void SourceSeparation::writeBlock(int first) {
  const arma::cx_fcube &separated = separator->separated();
  for (int t = 0; t < blockFrames; ++t) {
    RCPtr<Spectrum> frame = getOutput(outputID, first + t);
    for (arma::uword i = 0; i < separated.n_rows; ++i) {
      std::complex<float> *row = frame->row(static_cast<int>(i));
      for (arma::uword k = 0; k < separated.n_slices; ++k) row[k] = separated.at(i, t, k);
    }
  }
}

}  // namespace KOLV
