#include "MemoryStreams.h"

#include <algorithm>

namespace KOLV::host {

namespace {

MemoryStreams *installed = nullptr;

class RecordingInput : public AudioInput {
 public:
  explicit RecordingInput(const MemoryRecording &recording) : recording_(recording) {}
  int channels() const override { return recording_.channels; }
  int sampleRate() const override { return recording_.sampleRate; }
  long long frames() const override { return total(); }
  long read(float *interleaved, long frames) override {
    const long long count = std::min<long long>(frames, total() - next_);
    const auto begin = recording_.samples.begin() + next_ * recording_.channels;
    std::copy(begin, begin + count * recording_.channels, interleaved);
    next_ += count;
    return static_cast<long>(count);
  }

 private:
  long long total() const {
    return static_cast<long long>(recording_.samples.size()) / recording_.channels;
  }

  const MemoryRecording &recording_;
  long long next_ = 0;  // the next sample frame to read
};

}  // namespace

MemoryStreams *memoryStreams() { return installed; }

void installMemoryStreams(MemoryStreams *streams) { installed = streams; }

std::unique_ptr<AudioInput> openRecording(const MemoryRecording &recording) {
  return std::make_unique<RecordingInput>(recording);
}

}  // namespace KOLV::host
