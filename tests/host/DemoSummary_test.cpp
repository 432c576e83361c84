// The demo summary's judgement of a separation: a talker is kept when one
// output holds the larger share of them in every second they speak.
#include <gtest/gtest.h>

#include <cmath>

#include "DemoSummary.h"
#include "HostTestSupport.h"

namespace {

using hosttest::ScratchFolder;
using hosttest::Wav;

constexpr int kRate = 16000;
constexpr int kSeconds = 6;

// Two talkers as two unrelated noise-like signals, the same at both ears.
std::vector<double> talker(int which) {
  std::vector<double> samples(kRate * kSeconds);
  unsigned state = 12345u + 977u * which;
  for (double &s : samples) {
    state = state * 1664525u + 1013904223u;
    s = std::round((static_cast<double>(state >> 8) / (1u << 24) - 0.5) * 8000.0);
  }
  return samples;
}

Wav stereo(const std::vector<double> &left, const std::vector<double> &right) {
  Wav wav;
  wav.channels = 2;
  wav.rate = kRate;
  for (size_t n = 0; n < left.size(); ++n) {
    wav.samples.push_back(left[n]);
    wav.samples.push_back(right[n]);
  }
  return wav;
}

Wav mono(const std::vector<double> &samples) {
  Wav wav;
  wav.channels = 1;
  wav.rate = kRate;
  wav.samples = samples;
  return wav;
}

TEST(DemoSummary, ATalkerIsKeptUnlessAnotherOutputTakesThemOver) {
  ScratchFolder folder;
  const std::vector<double> a = talker(0), b = talker(1);
  hosttest::writeWav(folder / "a.wav", stereo(a, a), SF_FORMAT_PCM_16);
  hosttest::writeWav(folder / "b.wav", stereo(b, b), SF_FORMAT_PCM_16);
  // Output 1 holds talker a throughout; output 2 holds b for 3 s, then a.
  std::vector<double> second = b;
  std::copy(a.begin() + 3 * kRate, a.end(), second.begin() + 3 * kRate);
  std::vector<double> first = a;
  std::copy(b.begin() + 3 * kRate, b.end(), first.begin() + 3 * kRate);
  hosttest::writeWav(folder / "kept-1.wav", mono(a), SF_FORMAT_PCM_16);
  hosttest::writeWav(folder / "kept-2.wav", mono(b), SF_FORMAT_PCM_16);
  hosttest::writeWav(folder / "swapped-1.wav", mono(first), SF_FORMAT_PCM_16);
  hosttest::writeWav(folder / "swapped-2.wav", mono(second), SF_FORMAT_PCM_16);
  const std::vector<std::vector<std::pair<double, double>>> active = {{{0.0, 6.0}}, {{0.0, 6.0}}};
  const std::vector<std::filesystem::path> images = {folder / "a.wav", folder / "b.wav"};

  auto kept = KOLV::host::talkersOnOutputs({folder / "kept-1.wav", folder / "kept-2.wav"}, images,
                                           active, {-40.0, 30.0});
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_TRUE(kept[0].kept());
  EXPECT_EQ(kept[0].held, std::vector<int>(kSeconds, 0));
  EXPECT_EQ(kept[1].held, std::vector<int>(kSeconds, 1));

  auto swapped = KOLV::host::talkersOnOutputs(
      {folder / "swapped-1.wav", folder / "swapped-2.wav"}, images, active, {-40.0, 30.0});
  ASSERT_EQ(swapped.size(), 2u);
  EXPECT_FALSE(swapped[0].kept());
  EXPECT_EQ(swapped[0].outputChanges(), 1);
  EXPECT_EQ(swapped[1].held, (std::vector<int>{1, 1, 1, 0, 0, 0}));
}

}  // namespace
