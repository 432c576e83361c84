#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "HostTestSupport.h"
#include "Matrix.h"
#include "Network.h"
#include "Runner.h"
#include "ToolboxLoader.h"
#include "nodes/FrameworkNodes.h"

using hosttest::ScratchFolder;
using hosttest::writeText;
using KOLV::host::Network;
using KOLV::host::Runner;
using KOLV::host::RunSettings;

namespace {

class SchedulerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KOLV::host::registerFrameworkNodes();
    KOLV::host::ToolboxLoader loader;
    loader.loadAll({hosttest::probeToolboxFolder()});
    ASSERT_EQ(loader.loaded().size(), 1u);
  }

  std::unique_ptr<Network> load(const std::string &yaml) {
    writeText(folder / "net.yaml", yaml);
    return Network::load(folder / "net.yaml");
  }

  int run(Network &network, std::string &messages, long long maxFrames = -1) {
    std::ostringstream out;
    RunSettings settings;
    settings.maxFrames = maxFrames;
    Runner runner(network, settings, out);
    int status = runner.run();
    messages = out.str();
    frames = runner.framesRun();
    return status;
  }

  // A Probe reading `input` (a node, for its OUTPUT port, or NODE.PORT).
  std::string probe(const std::string &name, const std::string &input, int ahead, int back,
                    int readAhead, int readBack) {
    return "  " + name + ":\n    type: Probe\n    params: {AHEAD: " + std::to_string(ahead) +
           ", BACK: " + std::to_string(back) + ", READ_AHEAD: " + std::to_string(readAhead) +
           ", READ_BACK: " + std::to_string(readBack) + ", FILE: '" + (folder / (name + ".log")) +
           "'}\n    inputs: {INPUT: " +
           (input.find('.') == std::string::npos ? input + ".OUTPUT" : input) + "}\n";
  }

  static std::string counter(int frames) {
    return "nodes:\n  count:\n    type: CountingSource\n    params: {FRAMES: " +
           std::to_string(frames) + "}\n";
  }

  static int capacityOf(const Network &network, const std::string &name) {
    for (const Network::Entry &entry : network.entries())
      if (entry.name == name) return entry.node->outputRecord(0).buffer.capacity();
    return -1;
  }

  ScratchFolder folder;
  long long frames = 0;
};

}  // namespace

TEST_F(SchedulerTest, LookAheadAndBackSeeTheStreamAndZerosPastItsEnd) {
  auto network = load(counter(6) + probe("probe", "count", 2, 3, 2, 3));
  std::string messages;
  ASSERT_EQ(run(*network, messages), 0) << messages;
  EXPECT_EQ(frames, 6);
  // Frame k holds k + 1; frames 6 and 7 lie past the end and are zero.
  EXPECT_EQ(hosttest::readText(folder / "probe.log"),
            "0: 1 2 3\n"
            "1: 1 2 3 4\n"
            "2: 1 2 3 4 5\n"
            "3: 1 2 3 4 5 6\n"
            "4: 2 3 4 5 6 0\n"
            "5: 3 4 5 6 0 0\n");
}

TEST_F(SchedulerTest, BuffersKeepWhatDeclaredReadsReachAndNoMore) {
  struct Case {
    const char *what;
    std::string body;
    int sourceCapacity;
  } cases[] = {
      {"one reader", probe("p", "count", 2, 3, 2, 3), 2 + 3 + 1 + KOLV::host::kBufferMargin},
      {"two readers", probe("a", "count", 4, 0, 4, 0) + probe("b", "count", 0, 5, 0, 5),
       4 + 5 + 1 + KOLV::host::kBufferMargin},
      {"a chain adds up", probe("a", "count", 2, 0, 2, 0) + probe("b", "a", 3, 1, 3, 1),
       (3 + 2) - (-1) + 1 + KOLV::host::kBufferMargin},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    constexpr int kLongStream = 20000;
    auto network = load(counter(kLongStream) + c.body);
    EXPECT_EQ(capacityOf(*network, "count"), c.sourceCapacity);
    std::string messages;
    ASSERT_EQ(run(*network, messages), 0) << messages;
    EXPECT_EQ(frames, kLongStream);
    for (const Network::Entry &entry : network->entries())
      EXPECT_LE(entry.node->outputRecord(0).buffer.capacity(), c.sourceCapacity) << entry.name;
  }
}

TEST_F(SchedulerTest, ReadingBeyondTheDeclaredDistanceFailsInsteadOfReadingGarbage) {
  auto network = load(counter(50) + probe("probe", "count", 0, 1, 0, 6));
  std::string messages;
  EXPECT_EQ(run(*network, messages), 1);
  EXPECT_NE(messages.find("node 'probe' (Probe) failed at frame"), std::string::npos) << messages;
  EXPECT_NE(messages.find("has been released"), std::string::npos) << messages;
}

TEST_F(SchedulerTest, FrameLimitStopsTheRun) {
  auto network = load(counter(100) + probe("probe", "count", 0, 0, 0, 0));
  std::string messages;
  ASSERT_EQ(run(*network, messages, 7), 0);
  EXPECT_EQ(frames, 7);
}

TEST_F(SchedulerTest, ObjectReaderPadsWithZerosShapedLikeItsLastMatrix) {
  writeText(folder / "frames.txt",
            "<Matrix<float> <rows 2> <cols 3> <data 1 2 3 4 5 6 > >\n"
            "<Matrix<float> <rows 2> <cols 3> <data 6 5 4 3 2 1 > >\n");
  auto network = load("nodes:\n  reader:\n    type: ObjectReader\n    params: {FILE: '" +
                      (folder / "frames.txt") + "'}\n" + probe("probe", "reader", 2, 0, 2, 0));
  std::string messages;
  ASSERT_EQ(run(*network, messages), 0) << messages;
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(hosttest::readText(folder / "probe.log"), "0: 1 6 0\n1: 6 0 0\n");
  KOLV::BufferedNode *reader = network->entries()[0].node.get();
  KOLV::RCPtr<KOLV::Matrix<float>> past = reader->getOutput(0, 2);
  EXPECT_EQ(past->nrows(), 2);
  EXPECT_EQ(past->ncols(), 3);
}

TEST_F(SchedulerTest, WaveSourceFramesThePaddedEndOfTheRecording) {
  hosttest::Wav wav;
  wav.channels = 1;
  wav.rate = 16000;
  wav.samples.assign(500, 0.0);  // ceil(500 / 160) = 4 frames
  for (int t = 0; t < 4; ++t) wav.samples[160 * t] = 100.0 * (t + 1);
  hosttest::writeWav(folder / "in.wav", wav, SF_FORMAT_PCM_16);
  auto network =
      load("nodes:\n  source:\n    type: WaveSource\n    params: {FILE: '" + (folder / "in.wav") +
           "', LENGTH: 200, ADVANCE: 160}\n" + probe("probe", "source.AUDIO", 2, 0, 2, 0));
  std::string messages;
  ASSERT_EQ(run(*network, messages), 0) << messages;
  EXPECT_EQ(frames, 4);
  EXPECT_EQ(hosttest::readText(folder / "probe.log"),
            "0: 100 200 300\n1: 200 300 400\n2: 300 400 0\n3: 400 0 0\n");
}
