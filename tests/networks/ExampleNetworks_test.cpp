// Every example network runs through the real kolv on the demo recording,
// and the default run writes its results and its summary.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "TestNetwork.h"

namespace {

namespace fs = std::filesystem;
using hosttest::runKolv;
using hosttest::ScratchFolder;

// One separation block of 3 s and every learning period fit in this many frames.
constexpr int kFramesToRun = 400;

std::string demoRecording() { return kolvtest::sourceDir() + "/data/demo/scene.wav"; }

std::vector<std::string> exampleNetworks() {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(kolvtest::sourceDir() + "/networks"))
    if (entry.path().extension() == ".yaml") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ExampleNetwork : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleNetwork, RunsOnTheDemoRecording) {
  ScratchFolder folder;
  std::string network = kolvtest::sourceDir() + "/networks/" + GetParam() + ".yaml";
  auto result = runKolv(folder, "run '" + network + "' --quiet --frames " +
                                    std::to_string(kFramesToRun) + " --set source.FILE='" +
                                    demoRecording() + "'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err.find("error"), std::string::npos) << result.err;
  std::vector<fs::path> written;
  for (const auto &entry : fs::recursive_directory_iterator(folder.path()))
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
      written.push_back(entry.path());
  for (const fs::path &file : written) EXPECT_GT(fs::file_size(file), 0u) << file;
}

INSTANTIATE_TEST_SUITE_P(Networks, ExampleNetwork, ::testing::ValuesIn(exampleNetworks()),
                         [](const auto &info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(DefaultRun, WritesEveryResultAndSummarisesThem) {
  ScratchFolder folder;
  auto result = runKolv(folder, "run");
  ASSERT_EQ(result.status, 0) << result.err;
  for (const char *file : {"directions.csv", "tracked.csv", "separated-1.wav", "separated-2.wav",
                           "enhanced.wav", "speech.csv"}) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(fs::exists(folder.path() / "kolv-out" / file));
    EXPECT_NE(result.out.find(std::string("kolv-out/") + file), std::string::npos);
  }
  EXPECT_NE(result.out.find("talker at -40 deg"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("talker at +30 deg"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("not tracked"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("speech detected in"), std::string::npos) << result.out;
  for (const char *file : {"kolv-out/separated-1.wav", "kolv-out/separated-2.wav"}) {
    hosttest::Wav separated = hosttest::readWav(folder / file);
    EXPECT_EQ(separated.channels, 1);
    EXPECT_EQ(separated.frames(), 1000 * 160);
  }
}

}  // namespace

namespace {

TEST(NodeReference, DocsMatchTheNodeTables) {
  ScratchFolder folder;
  std::string command = "cd '" + kolvtest::sourceDir() + "' && tools/make-node-reference.sh '" +
                        kolvtest::buildDir() + "' > '" + (folder / "nodes.md") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(hosttest::readText(folder / "nodes.md"),
            hosttest::readText(kolvtest::sourceDir() + "/docs/nodes.md"))
      << "docs/nodes.md is stale: run tools/make-node-reference.sh build > docs/nodes.md";
}

}  // namespace

namespace {

// A recording that starts with digital silence: every bin's learnt noise is 0.
// The enhancement passes such bins through, so the WAV file it leads to is
// the recording itself after the lead-in, with no NaN anywhere.
TEST(EnhanceNetwork, DigitalSilenceLeadInPassesTheSignalThrough) {
  ScratchFolder folder;
  constexpr int kRate = 16000;
  hosttest::Wav in;
  in.channels = 2;
  in.rate = kRate;
  // The silence outlasts the network's 1 s noise period and its last frame.
  constexpr int kSilence = 3 * kRate / 2;
  for (int n = 0; n < 3 * kRate; ++n) {
    double tone = n < kSilence ? 0.0 : std::round(4000.0 * std::sin(0.07 * n));
    in.samples.push_back(tone);
    in.samples.push_back(-tone);
  }
  hosttest::writeWav(folder / "silent-start.wav", in, SF_FORMAT_PCM_16);
  auto result = runKolv(folder, "run '" + kolvtest::sourceDir() +
                                    "/networks/enhance.yaml' --set source.FILE=silent-start.wav "
                                    "--set output.FILE=enhanced.wav");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err.find("NaN"), std::string::npos) << result.err;
  hosttest::Wav out = hosttest::readWav(folder / "enhanced.wav");
  ASSERT_EQ(out.channels, 2);
  // The output is the input, up to the rounding of rebuilding every bin from
  // its amplitude and phase (a few steps of 16 bits on a tone of 4000).
  double largest = 0.0;
  for (long long i = 2 * kSilence; i < 2 * 3LL * kRate; ++i)
    largest = std::max(largest, std::abs(out.samples[i] - in.samples[i]));
  EXPECT_LE(largest, 8.0);
}

}  // namespace
