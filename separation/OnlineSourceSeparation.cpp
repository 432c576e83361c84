#include "OnlineSourceSeparation.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

using KOLV::separation::OnlineWpe;
using KOLV::separation::OnlineWpeSettings;
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
// The most frames the dereverberation's prediction may take: its cost grows
// with their square in every bin.
constexpr int kMostPredictionFrames = 16;
// While talkers are new, an estimate reads this far (s) before their start
// as well: a little of the noise alone, against which their first frames
// stand out.
constexpr float kRestartLead = 0.3f;

using KOLV::floatParameter;
using KOLV::intParameter;
using KOLV::ParameterInfo;
using KOLV::StreamProperty;
using KOLV::stringParameter;

// One declaration per parameter, in the order the constructor reads them.
struct Parameters : KOLV::ParameterTable {
  const ParameterInfo &numSources =
      add(intParameter("NUMBER_OF_SOURCES_TO_BE_SEPARATED", "", "number of talkers; the 2 x 2 update separates two")
              .atLeast(2)
              .atMost(2)
              .byDefault(2));
  const ParameterInfo &lookAhead =
      add(floatParameter("LOOK_AHEAD", "s",
                         "how far past a frame its estimate may read: 0 live; read up to 15 s, the whole recording "
                         "when it is shorter")
              .atLeast(0.0)
              .byDefault(0.0f));
  const ParameterInfo &history =
      add(floatParameter("HISTORY", "s", "how far before a frame its estimate reads, at least (and up to 15 s)")
              .above(0.0)
              .byDefault(4.0f));
  const ParameterInfo &memory =
      add(floatParameter("MEMORY", "s",
                         "time constant of the weights of the frames before the frame estimated; 0 weighs all "
                         "frames alike, MEMORY_AHEAD too (talkers who stay put)")
              .atLeast(0.0)
              .byDefault(1.0f));
  const ParameterInfo &memoryAhead =
      add(floatParameter("MEMORY_AHEAD", "s",
                         "with a look-ahead, the time constant of the weights of the frames after the frame "
                         "estimated (MEMORY that of those before it); 0 weighs them all alike")
              .atLeast(0.0)
              .byDefault(3.0f));
  const ParameterInfo &updateInterval =
      add(floatParameter("UPDATE_INTERVAL", "s", "time between estimates (earlier when a talker starts)")
              .above(0.0)
              .byDefault(0.1f));
  const ParameterInfo &passes =
      add(intParameter("PASSES", "passes", "IVA passes over each part of the signal in all; an estimate of frames "
                                           "all new runs this many")
              .atLeast(1)
              .byDefault(30));
  const ParameterInfo &restart =
      add(floatParameter("RESTART", "s",
                         "for this long after talkers start out of quiet, each estimate reads only the frames "
                         "since just before the start, and every UPDATE_INTERVAL an estimate from scratch takes "
                         "over where it explains them better: 0 off")
              .atLeast(0.0)
              .atMost(15.0)
              .byDefault(1.0f));
  const ParameterInfo &onsetSmoothing =
      add(intParameter("ONSET_SMOOTHING", "bins",
                       "within RESTART, each bin's statistics are averaged with those of this many bins on "
                       "either side, so that estimates from the talkers' first frames rest on more data: 0 off, "
                       "as live in a room, where neighbouring bins need other matrices")
              .atLeast(0)
              .atMost(16)
              .byDefault(2));
  const ParameterInfo &sourceModel =
      add(stringParameter("SOURCE_MODEL", "",
                          "how a talker's spectrum varies: GAUSS (time-varying Gaussian) or LAPLACE (spherical "
                          "Laplacian)")
              .oneOf({"GAUSS", "LAPLACE"})
              .byDefault("GAUSS"));
  const ParameterInfo &reference =
      add(stringParameter("REFERENCE_MICROPHONE", "",
                          "where each talker is heard: LEFT or RIGHT (both talkers at microphone 0 or 1), OWN "
                          "(talker i at microphone i, as SourceSeparation)")
              .oneOf({"LEFT", "RIGHT", "OWN"})
              .byDefault("LEFT"));
  const ParameterInfo &postFilterFloor =
      add(floatParameter("POST_FILTER_FLOOR", "dB",
                         "least gain of the post-filter, which scales each output's bin by its talker's share of "
                         "both talkers' power at both ears: 0 off; -20 live in a room (anechoic it costs SDR)")
              .atLeast(-60.0)
              .atMost(0.0)
              .byDefault(0.0f));
  const ParameterInfo &dereverberation =
      add(floatParameter("DEREVERBERATION", "s",
                         "span of the earlier frames that predict each frame's late reverberation, from "
                         "DEREVERBERATION_DELAY back (weighted prediction error, at most 16 frames): 0 off; 0.16 "
                         "in a room with 128 ms frames")
              .atLeast(0.0)
              .byDefault(0.0f));
  const ParameterInfo &dereverberationDelay =
      add(floatParameter("DEREVERBERATION_DELAY", "s",
                         "the prediction starts this far back: the direct sound and the reflections within it "
                         "are kept (at least one frame)")
              .atLeast(0.0)
              .byDefault(0.064f));
  const ParameterInfo &dereverberationMemory =
      add(floatParameter("DEREVERBERATION_MEMORY", "s", "time constant of the prediction's statistics")
              .above(0.0)
              .byDefault(1.6f));
  const ParameterInfo &advance = add(KOLV::advanceParameter("frame shift").byDefault(160));
  const ParameterInfo &samplingRate = add(KOLV::samplingRateParameter("sampling rate").byDefault(16000));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const KOLV::NodeDescription &OnlineSourceSeparation::description() {
  static const KOLV::NodeDescription table{
      "Separates two talkers frame by frame by IVA on a sliding window, each talker kept on one output",
      {{kInputPort, "Matrix<complex<float>>",
        "spectrum, one row per microphone (the first two are used), one column per bin (the last one is ignored)",
        2}},
      {{kOutputPort, "Matrix<complex<float>>",
        "same size as the input; row i < 2 is talker i as heard at the REFERENCE_MICROPHONE (the left one), "
        "other rows and the last column are zero"}},
      declared().entries()};
  return table;
}

OnlineSourceSeparation::OnlineSourceSeparation(std::string nodeName, KOLV::ParameterSet params)
    : BufferedNode(std::move(nodeName), params) {
  inputID = addInput(kInputPort);
  outputID = addOutput(kOutputPort);
  const Parameters &p = declared();
  numSources = p.numSources.readInt(params);
  lookAheadSeconds = p.lookAhead.readFloat(params);
  historySeconds = p.history.readFloat(params);
  memorySeconds = p.memory.readFloat(params);
  memoryAheadSeconds = p.memoryAhead.readFloat(params);
  updateSeconds = p.updateInterval.readFloat(params);
  passes = p.passes.readInt(params);
  restartSeconds = p.restart.readFloat(params);
  onsetSmoothing = p.onsetSmoothing.readInt(params);
  sourceModel = p.sourceModel.readString(params);
  reference = p.reference.readString(params);
  postFilterFloorDb = p.postFilterFloor.readFloat(params);
  dereverberationSeconds = p.dereverberation.readFloat(params);
  dereverberationDelaySeconds = p.dereverberationDelay.readFloat(params);
  dereverberationMemorySeconds = p.dereverberationMemory.readFloat(params);
  advance = p.advance.readInt(params);
  samplingRate = p.samplingRate.readInt(params);
  p.validate(params, "OnlineSourceSeparation '" + getName() + "'");

  lookAhead_ = framesOf(std::min(lookAheadSeconds, kLongestReach));
  history_ = std::max(framesOf(std::min(historySeconds, kLongestReach)), lookAhead_);
  window_ = history_ + lookAhead_ + 1;
  interval_ = std::max(1, framesOf(updateSeconds));
  if (dereverberationSeconds > 0.0f) {
    predictionFrames_ = std::max(1, framesOf(dereverberationSeconds));
    if (predictionFrames_ > kMostPredictionFrames) {
      std::ostringstream text;
      text << "DEREVERBERATION " << dereverberationSeconds << " s is " << predictionFrames_
           << " frames at this frame shift; at most " << kMostPredictionFrames;
      fail(text.str());
    }
  }

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
  settings.model = sourceModel == "LAPLACE" ? SourceModel::Laplace : SourceModel::Gauss;
  settings.coldPasses = passes;
  settings.interval = interval_;
  const auto frames = [this](float seconds) { return static_cast<double>(seconds) * samplingRate / advance; };
  settings.memory = frames(memorySeconds);
  settings.memoryAhead = frames(memoryAheadSeconds);
  settings.reference = reference == "LEFT" ? 0 : reference == "RIGHT" ? 1 : KOLV::separation::kOwnMicrophone;
  settings.postFilterFloor = std::pow(10.0f, postFilterFloorDb / 20.0f);
  settings.restartSpan = framesOf(restartSeconds);
  settings.restartLead = framesOf(kRestartLead);
  settings.onsetSmoothing = onsetSmoothing;
  iva_ = std::make_unique<WindowedIva>(settings);
  if (predictionFrames_ > 0) {
    OnlineWpeSettings wpe;
    wpe.bins = settings.bins;
    wpe.taps = predictionFrames_;
    wpe.delay = std::max(1, framesOf(dereverberationDelaySeconds));
    wpe.forgetting =
        std::exp(-static_cast<double>(advance) / (samplingRate * static_cast<double>(dereverberationMemorySeconds)));
    wpe_ = std::make_unique<OnlineWpe>(wpe);
    dereverberated_[0].resize(static_cast<size_t>(settings.bins));
    dereverberated_[1].resize(static_cast<size_t>(settings.bins));
  }
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
    if (wpe_) wpe_->skip();
    iva_->appendSilence();
    return;
  }
  if (!wpe_) {
    iva_->append(input->row(0), input->row(1));
    return;
  }
  wpe_->process(input->row(0), input->row(1), dereverberated_[0].data(), dereverberated_[1].data());
  iva_->append(dereverberated_[0].data(), dereverberated_[1].data());
}

// The window ends at the newest frame read (frame + look-ahead) and reaches
// back `history_` frames or as far as ahead.
void OnlineSourceSeparation::estimateFor(int frame) {
  const long long end = iva_->framesAppended(), first = std::max(0LL, end - window_);
  if (iva_->estimateDue(first, end)) iva_->estimate(first, end, frame);
}

void OnlineSourceSeparation::calculate(int, int count, KOLV::Buffer &out) {
  KOLV::RCPtr<Spectrum> input = getInput(inputID, count);
  if (!iva_) start(*input);
  while (iva_->framesAppended() <= static_cast<long long>(count) + lookAhead_)
    appendInput(static_cast<int>(iva_->framesAppended()));
  estimateFor(count);
  auto *output = new Spectrum(rows_, columns_);
  out[count] = KOLV::ObjectRef(output);
  if (!damageOf(*input).empty()) return;
  iva_->separate(count, output->row(0), output->row(1));
}
