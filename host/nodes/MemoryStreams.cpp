#include "MemoryStreams.h"

#include <algorithm>
#include <cstddef>

namespace KOLV::host {

namespace {

MemoryStreams *installed = nullptr;
// Full scale of the 16-bit samples against floats on the ±1 scale.
constexpr float kFullScale = 32768.0f;

template <class T>
void toSixteenBitScale(const T *from, size_t n, float scale, float *to) {
  for (size_t i = 0; i < n; ++i) to[i] = static_cast<float>(from[i] * scale);
}

class RecordingInput : public AudioInput {
 public:
  explicit RecordingInput(const MemoryRecording &recording) : recording_(recording) {}
  int channels() const override { return recording_.channels; }
  int sampleRate() const override { return recording_.sampleRate; }
  long long frames() const override { return recording_.frames; }
  long read(float *interleaved, long frames) override {
    const long long count = std::min<long long>(frames, recording_.frames - next_);
    const size_t first = static_cast<size_t>(next_ * recording_.channels);
    const size_t n = static_cast<size_t>(count * recording_.channels);
    using Type = MemoryRecording::SampleType;
    switch (recording_.type) {
      case Type::Int16:
        toSixteenBitScale(static_cast<const int16_t *>(recording_.samples) + first, n, 1.0f,
                          interleaved);
        break;
      case Type::Float32:
        toSixteenBitScale(static_cast<const float *>(recording_.samples) + first, n, kFullScale,
                          interleaved);
        break;
      case Type::Float64:
        toSixteenBitScale(static_cast<const double *>(recording_.samples) + first, n, kFullScale,
                          interleaved);
        break;
    }
    next_ += count;
    return static_cast<long>(count);
  }

 private:
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
