// Arbitrary bytes through both audio readers, framed as WaveSource frames a
// stream: reading ends at the end of the bytes or with a runtime_error.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "nodes/AudioInput.h"
#include "EntryPoints.h"
#include "nodes/WaveSource.h"

namespace kolvfuzz {

namespace {

using KOLV::host::AudioInput;

// WaveSource's usual framing.
constexpr int kLength = 512;
constexpr int kAdvance = 160;
// A bound on the frames one input may yield (compressed formats expand).
constexpr int kMaxFrames = 4096;

void frameAll(std::unique_ptr<AudioInput> input) {
  KOLV::host::SampleWindow window(std::move(input));
  std::vector<float> frame(static_cast<size_t>(window.channels()) * kLength);
  for (int t = 0; t < kMaxFrames; ++t) {
    long long start = static_cast<long long>(t) * kAdvance;
    if (!window.has(start)) break;
    window.copy(start, kLength, frame.data());
    window.release(start);
  }
  (void)window.truncation();
}

}  // namespace

void readWave(const uint8_t *data, size_t size) {
  try {
    frameAll(AudioInput::openMemory(data, size));
  } catch (std::runtime_error &) {
  }
  if (size == 0) return;  // fmemopen refuses an empty buffer
  FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (!stream) return;
  try {
    frameAll(AudioInput::openStream(stream, true));
  } catch (std::runtime_error &) {
  }
}

}  // namespace kolvfuzz
