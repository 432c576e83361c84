#include "OnlineSourceSeparation.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "GenericType.h"

using KOLV::separation::SourceModel;
using KOLV::separation::WindowedIva;
using KOLV::separation::WindowedIvaSettings;

namespace {

const char *const kInputPort = "INPUT_AUDIO_SPECTRUM";
const char *const kOutputPort = "OUTPUT_AUDIO_SPECTRUM";

// The longest look-ahead and history the node keeps (s): the kept frames
// (2 x 257 bins) then take about 25 MB. A longer look-ahead reads 15 s.
constexpr float kLongestReach = 15.0f;
// Values beyond this (in any bin) are taken as damage: their squares would
// overflow the covariances.
constexpr float kLargestValue = 1e15f;

template <class T>
T parameterOr(const KOLV::ParameterSet &params, const char *name, T fallback) {
  return params.exist(name) ? KOLV::dereference_cast<T>(params.get(name)) : fallback;
}

}  // namespace

const KOLV::NodeDescription &OnlineSourceSeparation::description() {
  static const KOLV::NodeDescription table{
      "Separates two talkers frame by frame by IVA on a sliding window, each talker kept on one output",
      {{kInputPort, "Matrix<complex<float>>",
        "spectrum, one row per microphone (the first two are used), one column per bin (the last one is ignored)"}},
      {{kOutputPort, "Matrix<complex<float>>",
        "same size as the input; row i < 2 is source i as heard at microphone i, other rows and the last column "
        "are zero"}},
      {{"NUMBER_OF_SOURCES_TO_BE_SEPARATED", KOLV::ValueType::Int, "", "number of talkers, 2"},
       {"LOOK_AHEAD", KOLV::ValueType::Float, "s", "how far past a frame the estimate may read; 0 live"},
       {"HISTORY", KOLV::ValueType::Float, "s", "how far before a frame the estimate reads at least"},
       {"UPDATE_INTERVAL", KOLV::ValueType::Float, "s", "time between estimates"},
       {"MIN_PASSES", KOLV::ValueType::Int, "passes", "IVA passes of an estimate that sees few new frames"},
       {"COLD_PASSES", KOLV::ValueType::Int, "passes", "IVA passes of an estimate whose window is all new"},
       {"SOURCE_MODEL", KOLV::ValueType::String, "", "LAPLACE or GAUSS"},
       {"EAGER", KOLV::ValueType::Float, "", "x"},
       {"MEMORY", KOLV::ValueType::Float, "", "x"},
       {"ADVANCE", KOLV::ValueType::Int, "samples", "frame shift"},
       {"SAMPLING_RATE", KOLV::ValueType::Int, "Hz", "sampling rate"}}};
  return table;
}

OnlineSourceSeparation::OnlineSourceSeparation(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(std::move(nodeName), params) {
  inputID = addInput(kInputPort);
  outputID = addOutput(kOutputPort);
  numSources = parameterOr<int>(params, "NUMBER_OF_SOURCES_TO_BE_SEPARATED", 2);
  lookAheadSeconds = parameterOr<float>(params, "LOOK_AHEAD", 0.0f);
  historySeconds = parameterOr<float>(params, "HISTORY", 4.0f);
  updateSeconds = parameterOr<float>(params, "UPDATE_INTERVAL", 0.1f);
  minPasses = parameterOr<int>(params, "MIN_PASSES", 1);
  coldPasses = parameterOr<int>(params, "COLD_PASSES", 30);
  sourceModel = parameterOr<KOLV::String>(params, "SOURCE_MODEL", KOLV::String("GAUSS"));
  eagerShare = parameterOr<float>(params, "EAGER", 0.05f);
  memorySeconds = parameterOr<float>(params, "MEMORY", 0.0f);
  advance = parameterOr<int>(params, "ADVANCE", 160);
  samplingRate = parameterOr<int>(params, "SAMPLING_RATE", 16000);

  lookAhead_ = framesOf(std::min(lookAheadSeconds, kLongestReach));
  history_ = std::max(framesOf(std::min(historySeconds, kLongestReach)), lookAhead_);
  window_ = history_ + lookAhead_ + 1;
  interval_ = std::max(1, framesOf(updateSeconds));

  processInOrder = true;
  setInputLookAhead(inputID, lookAhead_);
}

OnlineSourceSeparation::~OnlineSourceSeparation() = default;

int OnlineSourceSeparation::framesOf(float seconds) const {
  return static_cast<int>(std::lround(static_cast<double>(seconds) * samplingRate / advance));
}

void OnlineSourceSeparation::fail(const std::string &problem, int frame) const {
  std::string where = "OnlineSourceSeparation node '" + getName() + "'";
  if (frame >= 0) where += ", frame " + std::to_string(frame);
  throw new KOLV::GeneralException(where + ": " + problem, __FILE__, __LINE__);
}

void OnlineSourceSeparation::start(const Spectrum &first) {
  if (first.nrows() < 2 || first.ncols() < 2)
    fail(std::string(kInputPort) + " is " + std::to_string(first.nrows()) + " x " + std::to_string(first.ncols()) +
             ": separating two talkers needs two microphones and at least two columns",
         0);
  rows_ = first.nrows();
  columns_ = first.ncols();
  WindowedIvaSettings settings;
  settings.bins = columns_ - 1;
  settings.capacity = window_;
  settings.model = sourceModel == "GAUSS" ? SourceModel::Gauss : SourceModel::Laplace;
  settings.minPasses = minPasses;
  settings.coldPasses = coldPasses;
  settings.interval = interval_;
  settings.eagerShare = eagerShare;
  settings.memory = framesOf(memorySeconds);
  iva_ = std::make_unique<WindowedIva>(settings);
}

std::string OnlineSourceSeparation::damageOf(const Spectrum &frame) const {
  if (frame.nrows() != rows_ || frame.ncols() != columns_) {
    std::ostringstream text;
    text << kInputPort << " is " << frame.nrows() << " x " << frame.ncols() << ", unlike the " << rows_ << " x "
         << columns_ << " of frame 0";
    return text.str();
  }
  for (int c = 0; c < 2; ++c)
    for (int k = 0; k + 1 < columns_; ++k) {
      const std::complex<float> value = frame(c, k);
      if (!(std::fabs(value.real()) <= kLargestValue) || !(std::fabs(value.imag()) <= kLargestValue)) {
        std::ostringstream text;
        text << kInputPort << " holds the value " << value << " in channel " << c << ", bin " << k;
        return text.str();
      }
    }
  return "";
}

// One warning per stretch of damaged frames: a run may last for hours.
void OnlineSourceSeparation::warnDamaged(int frame, const std::string &damage) {
  if (frame != lastDamaged_ + 1)
    std::cerr << "OnlineSourceSeparation node '" << getName() << "', frame " << frame << ": " << damage
              << "; such frames come out as zeros and are left out of the estimate" << std::endl;
  lastDamaged_ = frame;
}

void OnlineSourceSeparation::appendInput(int frame) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, frame);
  const bool pastEnd = input->nrows() == 0 && input->ncols() == 0;
  const std::string damage = pastEnd ? "" : damageOf(*input);
  if (pastEnd || !damage.empty()) {
    if (!damage.empty()) warnDamaged(frame, damage);
    iva_->appendSilence();
    return;
  }
  iva_->append(input->row(0), input->row(1));
}

void OnlineSourceSeparation::estimateAt(int frame) {
  const long long end = iva_->framesAppended(), first = std::max(0LL, end - window_);
  if (iva_->estimateDue(first, end)) iva_->estimate(first, end, frame);
  if (getenv("SEPDBG")) std::cerr << frame << " passes " << iva_->lastPasses() << "\n";
  (void)frame;
}

void OnlineSourceSeparation::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  if (!iva_) start(*input);
  while (iva_->framesAppended() <= static_cast<long long>(count) + lookAhead_)
    appendInput(static_cast<int>(iva_->framesAppended()));
  estimateAt(count);
  auto *output = new Spectrum(rows_, columns_);
  out[count] = KOLV::ObjectRef(output);
  if (!damageOf(*input).empty()) return;
  iva_->separate(input->row(0), input->row(1), output->row(0), output->row(1));
}
