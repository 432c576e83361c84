#include "WaveSource.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"

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

const NodeDescription &WaveSource::description() {
  static const NodeDescription d{
      "Reads a WAV file (or a WAV stream on standard input) as overlapping frames of samples",
      {},
      {{"AUDIO", "Matrix<float>", "channels x LENGTH samples on the 16-bit scale"}},
      {{"FILE", ValueType::String, "", "the audio file; - reads a WAV stream from standard input"},
       {"LENGTH", ValueType::Int, "samples", "frame length"},
       {"ADVANCE", ValueType::Int, "samples", "shift between the starts of successive frames"}}};
  return d;
}

WaveSource::WaveSource(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  audioID_ = addOutput("AUDIO");
  file_ = dereference_cast<String>(parameters.get("FILE"));
  length_ = dereference_cast<int>(parameters.get("LENGTH"));
  advance_ = dereference_cast<int>(parameters.get("ADVANCE"));
  processInOrder = true;
  if (length_ < 1)
    KOLV_NODE_ERROR(getName(), "LENGTH must be at least 1 sample, not " + std::to_string(length_));
  if (advance_ < 1)
    KOLV_NODE_ERROR(getName(),
                    "ADVANCE must be at least 1 sample, not " + std::to_string(advance_));
  std::unique_ptr<AudioInput> input;
  try {
    input = AudioInput::open(file_);
  } catch (std::exception &e) {
    KOLV_NODE_ERROR(getName(), "cannot read audio FILE '" +
                                   (file_ == "-" ? std::string("standard input") : file_) +
                                   "': " + e.what());
  }
  sampleRate_ = input->sampleRate();
  window_ = std::make_unique<SampleWindow>(std::move(input));
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
  std::cerr << "kolv: warning: node '" << getName() << "': "
            << (file_ == "-" ? std::string("standard input") : "'" + file_ + "'") << ": "
            << reason << "; the run ends with the samples read so far\n";
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
