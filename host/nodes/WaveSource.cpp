#include "WaveSource.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "GenericType.h"
#include "Matrix.h"
#include "DataFiles.h"
#include "NodeError.h"
#include "ResampledInput.h"
#include "RunOptions.h"
#include "StreamParameters.h"

namespace KOLV::host {

namespace {
// Sample frames read from the input at a time.
constexpr long kReadBlock = 4096;
// Released samples are dropped from the front of the window once this many
// have gathered, so the cost of moving the rest stays small.
constexpr long long kCompactThreshold = 1 << 16;
}  // namespace

SampleWindow::SampleWindow(std::unique_ptr<AudioInput> input)
    : input_(std::move(input)), channels_(input_->channels()) {}

void SampleWindow::readUpTo(long long end) {
  while (!ended_ && first_ + static_cast<long long>(samples_.size()) / channels_ < end) {
    size_t old = samples_.size();
    samples_.resize(old + static_cast<size_t>(kReadBlock) * channels_);
    long got = input_->read(samples_.data() + old, kReadBlock);
    samples_.resize(old + static_cast<size_t>(got) * channels_);
    if (got == 0) ended_ = true;
  }
}

bool SampleWindow::has(long long index) {
  readUpTo(index + 1);
  return index < first_ + static_cast<long long>(samples_.size()) / channels_;
}

void SampleWindow::copy(long long start, int length, float *out) {
  readUpTo(start + length);
  long long held = static_cast<long long>(samples_.size()) / channels_;
  for (int n = 0; n < length; ++n) {
    long long at = start + n - first_;
    bool inside = at >= 0 && at < held;
    for (int c = 0; c < channels_; ++c)
      out[static_cast<size_t>(c) * length + n] =
          inside ? samples_[static_cast<size_t>(at) * channels_ + c] : 0.0f;
  }
}

void SampleWindow::release(long long index) {
  long long held = static_cast<long long>(samples_.size()) / channels_;
  long long drop = std::min(index - first_, held);
  if (drop < kCompactThreshold) return;
  samples_.erase(samples_.begin(),
                 samples_.begin() + static_cast<std::ptrdiff_t>(drop * channels_));
  first_ += drop;
}

namespace {

// Live capture: "alsa:DEVICE".
constexpr const char *kCapturePrefix = "alsa:";
// The embedded demo recording.
constexpr const char *kDemoInput = "demo:";
// Rates kolv resamples from and to.
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 768000;
constexpr int kMostChannels = 1024;

struct Parameters : ParameterTable {
  const ParameterInfo &file = add(
      fileParameter("the recording: a sound file at any rate (resampled to SAMPLING_RATE); - "
                    "reads a WAV stream from standard input; alsa:DEVICE captures from a sound "
                    "card; demo: the embedded demo recording")
          .byDefault(kDemoInput));
  const ParameterInfo &length =
      add(intParameter("LENGTH", "samples", "frame length")
              .atLeast(1)
              .setsStream(StreamProperty::Length)
              .byDefault(kDefaultFrameLength));
  const ParameterInfo &advance =
      add(intParameter("ADVANCE", "samples", "shift between the starts of successive frames")
              .atLeast(1)
              .setsStream(StreamProperty::Advance)
              .byDefault(kDefaultAdvance));
  const ParameterInfo &samplingRate =
      add(intParameter("SAMPLING_RATE", "Hz",
                       "the network's sampling rate: a recording at another rate is resampled")
              .atLeast(kLowestRate)
              .atMost(kHighestRate)
              .setsStream(StreamProperty::SamplingRate)
              .byDefault(kDefaultSamplingRate));
  const ParameterInfo &channels =
      add(intParameter("CHANNELS", "",
                       "channels captured from a sound card (files and streams have their own)")
              .atLeast(1)
              .atMost(kMostChannels)
              .byDefault(2));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

bool startsWith(const std::string &text, const char *prefix) {
  return text.compare(0, std::string(prefix).size(), prefix) == 0;
}

}  // namespace

const NodeDescription &WaveSource::description() {
  static const NodeDescription d{
      "Reads a recording (a sound file, a WAV stream on standard input or a sound card) as "
      "overlapping frames of samples at the network's rate",
      {},
      {{"AUDIO", "Matrix<float>", "channels x LENGTH samples on the 16-bit scale"}},
      declared().entries()};
  return d;
}

WaveSource::WaveSource(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  audioID_ = addOutput("AUDIO");
  const Parameters &p = declared();
  file_ = p.file.readString(parameters);
  length_ = p.length.readInt(parameters);
  advance_ = p.advance.readInt(parameters);
  sampleRate_ = p.samplingRate.readInt(parameters);
  const int captureChannels = p.channels.readInt(parameters);
  processInOrder = true;
  p.validate(parameters, "node '" + getName() + "'");
  std::unique_ptr<AudioInput> input;
  try {
    if (startsWith(file_, kCapturePrefix))
      input = AudioInput::openCapture(file_.substr(std::string(kCapturePrefix).size()),
                                      sampleRate_, captureChannels, advance_);
    else
      input = AudioInput::open(file_ == kDemoInput ? demoRecordingPath() : file_);
  } catch (std::exception &e) {
    KOLV_NODE_ERROR(getName(), "cannot read audio FILE " + inputName() + ": " + e.what());
  }
  fileRate_ = input->sampleRate();
  fileFrames_ = input->frames();
  if (fileRate_ != sampleRate_) {
    if (fileRate_ < kLowestRate || fileRate_ > kHighestRate)
      KOLV_NODE_ERROR(getName(), inputName() + " has a sampling rate of " +
                                     std::to_string(fileRate_) + " Hz; kolv reads " +
                                     std::to_string(kLowestRate) + " to " +
                                     std::to_string(kHighestRate) + " Hz");
    input = std::make_unique<ResampledInput>(std::move(input), sampleRate_);
    if (!runOptions().quiet)
      std::cerr << "kolv: node '" << getName() << "': resampling " << inputName() << " from "
                << fileRate_ << " Hz to " << sampleRate_ << " Hz\n";
  }
  if (file_ == kDemoInput && !runOptions().quiet)
    std::cerr << "kolv: node '" << getName() << "' reads the embedded demo recording ("
              << demoRecordingPath() << "); set " << getName() << ".FILE to read your own\n";
  window_ = std::make_unique<SampleWindow>(std::move(input));
}

std::string WaveSource::inputName() const {
  if (file_ == "-") return "standard input";
  if (startsWith(file_, kCapturePrefix)) return "sound card '" + file_ + "'";
  if (file_ == kDemoInput) return "the demo recording";
  return "'" + file_ + "'";
}

double WaveSource::durationSeconds() const {
  return fileFrames_ < 0 ? -1.0 : static_cast<double>(fileFrames_) / fileRate_;
}

bool WaveSource::frameExists(int count) {
  bool exists = window_->has(static_cast<long long>(count) * advance_);
  if (!exists) reportTruncation();
  return exists;
}

void WaveSource::finish() {
  if (window_->ended()) reportTruncation();
}

// A stream cut short (a file copied in part, a writer killed mid-stream) is
// not an error: every complete sample frame is used, and the user is told.
void WaveSource::reportTruncation() {
  if (truncationReported_) return;
  truncationReported_ = true;
  std::string reason = window_->truncation();
  if (reason.empty()) return;
  std::cerr << "kolv: warning: node '" << getName() << "': " << inputName() << ": " << reason << "; the run ends with the samples read so far\n";
}

void WaveSource::calculate(int, int count, Buffer &out) {
  long long start = static_cast<long long>(count) * advance_;
  RCPtr<Matrix<float>> frame(new Matrix<float>(window_->channels(), length_));
  window_->copy(start, length_, frame->data());
  // Frames come in order, so nothing before this frame's start is read again.
  window_->release(start);
  out[count] = frame;
}

}  // namespace KOLV::host
