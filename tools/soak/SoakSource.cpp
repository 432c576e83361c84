// kolv-soak-source: writes an endless (or SECONDS long) two-channel 16 kHz
// WAV stream of noisy, speech-like audio to standard output, with the
// streaming header a live recorder leaves (sizes unknown). Two talkers from
// two directions speak in syllables of harmonic tones over steady noise; the
// first seconds are noise alone, so the nodes that learn the noise can.
//
//   kolv-soak-source [SECONDS] [SEED] | kolv run tools/soak/soak.yaml
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 16000;
constexpr int kChannels = 2;
constexpr int kBitsPerSample = 16;
constexpr double kNoiseOnlySeconds = 2.0;
constexpr double kPi = 3.14159265358979323846;
constexpr int kHarmonics = 12;
constexpr float kNoiseLevel = 300.0f;      // on the 16-bit scale
constexpr float kTalkerLevel = 3000.0f;
constexpr size_t kBlockFrames = 4096;       // sample frames written at a time

// One talker: a harmonic series with a slowly wandering pitch, switched on
// and off in syllables, heard `delay` samples later at the right microphone
// than at the left (its direction).
class Talker {
 public:
  Talker(double basePitch, double syllableRate, int delay, unsigned seed)
      : basePitch_(basePitch), syllableRate_(syllableRate), delay_(delay),
        history_(static_cast<size_t>(std::abs(delay)) + 1, 0.0f), gen_(seed) {}

  // The next sample at the left and the right microphone.
  void next(double t, float &left, float &right) {
    float s = static_cast<float>(sample(t));
    history_[at_] = s;
    float delayed = history_[(at_ + 1) % history_.size()];
    at_ = (at_ + 1) % history_.size();
    left = delay_ >= 0 ? s : delayed;
    right = delay_ >= 0 ? delayed : s;
  }

 private:
  double sample(double t) {
    double pitch = basePitch_ * (1.0 + 0.15 * std::sin(2.0 * kPi * 0.3 * t));
    phase_ += 2.0 * kPi * pitch / kRate;
    if (phase_ > 2.0 * kPi) phase_ -= 2.0 * kPi;
    // Syllables: about 60 % of each period voiced, with soft edges.
    double cycle = std::fmod(t * syllableRate_, 1.0);
    double envelope = cycle < 0.6 ? std::sin(kPi * cycle / 0.6) : 0.0;
    if (cycle < 0.01) silentWord_ = std::uniform_real_distribution<double>(0, 1)(gen_) < 0.3;
    if (silentWord_ || envelope == 0.0) return 0.0;
    double v = 0.0;
    for (int h = 1; h <= kHarmonics; ++h) v += std::sin(h * phase_) / h;
    return kTalkerLevel * envelope * v;
  }

  double basePitch_;
  double syllableRate_;
  int delay_;
  std::vector<float> history_;
  size_t at_ = 0;
  double phase_ = 0.0;
  bool silentWord_ = false;
  std::mt19937 gen_;
};

void put16(std::vector<unsigned char> &out, uint16_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void put32(std::vector<unsigned char> &out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v & 0xFFFF));
  put16(out, static_cast<uint16_t>(v >> 16));
}

// A RIFF/WAVE header whose sizes say "unknown", as streaming writers leave them.
std::vector<unsigned char> streamingHeader() {
  constexpr uint32_t kUnknown = 0xFFFFFFFFu;
  constexpr uint16_t kPcm = 1;
  constexpr uint32_t kFormatSize = 16;
  std::vector<unsigned char> h;
  for (char c : std::string("RIFF")) h.push_back(static_cast<unsigned char>(c));
  put32(h, kUnknown);
  for (char c : std::string("WAVEfmt ")) h.push_back(static_cast<unsigned char>(c));
  put32(h, kFormatSize);
  put16(h, kPcm);
  put16(h, kChannels);
  put32(h, kRate);
  put32(h, kRate * kChannels * kBitsPerSample / 8);
  put16(h, kChannels * kBitsPerSample / 8);
  put16(h, kBitsPerSample);
  for (char c : std::string("data")) h.push_back(static_cast<unsigned char>(c));
  put32(h, kUnknown);
  return h;
}

int16_t clip16(float v) {
  float r = std::nearbyint(v);
  return static_cast<int16_t>(r > 32767.0f ? 32767.0f : r < -32768.0f ? -32768.0f : r);
}

// Little-endian, as WAV stores it.
void putSample(unsigned char *at, int16_t v) {
  uint16_t u = static_cast<uint16_t>(v);
  at[0] = static_cast<unsigned char>(u & 0xFF);
  at[1] = static_cast<unsigned char>(u >> 8);
}

}  // namespace

int main(int argc, char **argv) {
  // Without SECONDS the stream never ends.
  double seconds = argc > 1 ? std::atof(argv[1]) : -1.0;
  unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  if (argc > 3 || (argc > 1 && !(seconds > 0.0))) {
    std::fprintf(stderr, "usage: kolv-soak-source [SECONDS] [SEED]\n");
    return 2;
  }
  std::vector<unsigned char> header = streamingHeader();
  if (std::fwrite(header.data(), 1, header.size(), stdout) != header.size()) return 1;

  Talker first(120.0, 3.7, 6, seed), second(190.0, 4.3, -9, seed + 1);
  std::mt19937 gen(seed + 2);
  std::normal_distribution<float> noise(0.0f, kNoiseLevel);
  long long total = seconds > 0.0 ? static_cast<long long>(seconds * kRate) : -1;
  constexpr size_t kFrameBytes = kChannels * kBitsPerSample / 8;
  std::vector<unsigned char> block(kBlockFrames * kFrameBytes);
  for (long long n = 0; total < 0 || n < total;) {
    size_t frames = 0;
    for (; frames < kBlockFrames && (total < 0 || n < total); ++frames, ++n) {
      double t = static_cast<double>(n) / kRate;
      float l1 = 0, r1 = 0, l2 = 0, r2 = 0;
      if (t >= kNoiseOnlySeconds) {
        first.next(t, l1, r1);
        second.next(t, l2, r2);
      }
      putSample(&block[frames * kFrameBytes], clip16(l1 + l2 + noise(gen)));
      putSample(&block[frames * kFrameBytes + 2], clip16(r1 + r2 + noise(gen)));
    }
    if (std::fwrite(block.data(), kFrameBytes, frames, stdout) != frames)
      return 0;  // the reader has gone: the stream simply ends
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
