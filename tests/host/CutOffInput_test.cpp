// Input that ends too early, through the real kolv binary: a WAV file cut
// inside a frame or a sample, a WAV stream whose writer dies, a text-form
// file cut inside an object. Each ends the run normally with a warning, and
// everything computed so far is written out whole; text that is malformed
// rather than cut short stays an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "HostTestSupport.h"

using hosttest::readText;
using hosttest::readWav;
using hosttest::runKolv;
using hosttest::ScratchFolder;
using hosttest::testSignal;
using hosttest::Wav;
using hosttest::writeText;
using hosttest::writeWav;

namespace {

constexpr long long kSamples = 16000;
constexpr int kAdvance = 160;
constexpr int kHeaderBytes = 44;  // of the canonical WAV libsndfile writes
constexpr int kFrameBytes = 4;    // two 16-bit samples

// Keeps the first `bytes` bytes of the file.
void cutFile(const std::string &path, long long bytes) {
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(bytes));
}

std::string roundTrip() {
  return readText(hosttest::sourceFolder() + "/networks/roundtrip.yaml");
}

// Samples of the round trip's output for `whole` complete input samples:
// whole frames of ADVANCE samples, the last one padded.
long long roundTripSamples(long long whole) {
  return (whole + kAdvance - 1) / kAdvance * kAdvance;
}

}  // namespace

TEST(CutOffInput, WavCutInsideAFrameOrASampleEndsNormallyWithAWarning) {
  struct Case {
    const char *what;
    long long dataBytes;  // kept after the header
    bool throughStandardInput;
  } cases[] = {
      {"file cut between sample frames, inside a frame of samples", 4001 * kFrameBytes, false},
      {"file cut inside a sample", 4001 * kFrameBytes + 1, false},
      {"stream cut inside a sample frame", 4001 * kFrameBytes + 3, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    writeText(folder / "net.yaml", roundTrip());
    writeWav(folder / "in.wav", testSignal(kSamples), SF_FORMAT_PCM_16);
    cutFile(folder / "in.wav", kHeaderBytes + c.dataBytes);
    auto result = c.throughStandardInput
                      ? runKolv(folder, "run net.yaml --set source.FILE=- --set sink.FILE=out.wav",
                                "cat in.wav")
                      : runKolv(folder, "run net.yaml --set source.FILE=in.wav --set sink.FILE=out.wav");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("warning: node 'source'"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("bytes before the end of its data chunk"), std::string::npos)
        << result.err;
    Wav out = readWav(folder / "out.wav");
    EXPECT_EQ(out.frames(), roundTripSamples(c.dataBytes / kFrameBytes));
  }
}

TEST(CutOffInput, StreamWhoseWriterIsKilledEndsNormallyWithAWarning) {
  ScratchFolder folder;
  writeText(folder / "net.yaml", roundTrip());
  writeWav(folder / "in.wav", testSignal(kSamples), SF_FORMAT_PCM_16);
  // The writer sends part of the stream, then dies mid-sample.
  const long long sent = kHeaderBytes + 2500 * kFrameBytes + 1;
  auto result = runKolv(folder, "run net.yaml --set source.FILE=- --set sink.FILE=out.wav",
                        "sh -c 'head -c " + std::to_string(sent) + " in.wav; kill -9 $$'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("standard input"), std::string::npos) << result.err;
  EXPECT_EQ(readWav(folder / "out.wav").frames(), roundTripSamples(2500));
}

TEST(CutOffInput, TextFormCutInsideAnObjectEndsNormallyButGarbageFails) {
  const std::string sources =
      "<Vector<ObjectRef> <Source <x 1 0 0> <power 2> <id 1> <spare 0> > >\n"
      "<Vector<ObjectRef> >\n"
      "<Vector<ObjectRef> <Source <x 0 1 0> <power 3> <id 2> <spare 0> > >\n";
  const std::string network = R"(nodes:
  reader:
    type: ObjectReader
    params: {FILE: in.txt}
  table:
    type: SourceTable
    params: {FILE: out.csv, ADVANCE: 160, SAMPLING_RATE: 16000}
    inputs: {SOURCES: reader.OUTPUT}
  copy:
    type: ObjectWriter
    params: {FILE: copy.txt}
    inputs: {INPUT: reader.OUTPUT}
)";
  const std::string expectedTable =
      "frame,time,id,azimuth,power\n"
      "0,0.000000,1,0.00,2\n"
      "2,0.020000,2,90.00,3\n";
  struct Case {
    const char *what;
    std::string tail;
    int status;
    const char *message;
  } cases[] = {
      {"cut inside a source", "<Vector<ObjectRef> <Source <x 1 0", 0, "ends inside object 3"},
      {"cut inside a class name", "<Vector<Obj", 0, "ends inside object 3"},
      {"cut after an opening", "<Vector<ObjectRef> ", 0, "ends inside object 3"},
      {"garbage before the end", "<Vector<ObjectRef> <Source <bogus 1> > >\n", 1,
       "unknown argument: bogus"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    writeText(folder / "net.yaml", network);
    writeText(folder / "in.txt", sources + c.tail);
    auto result = runKolv(folder, "run net.yaml");
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    // What was read before the damage is written out in whole lines.
    EXPECT_EQ(readText(folder / "out.csv"), expectedTable);
    std::string copy = readText(folder / "copy.txt");
    ASSERT_FALSE(copy.empty());
    EXPECT_GE(std::count(copy.begin(), copy.end(), '\n'), 3) << copy;
    EXPECT_EQ(copy.back(), '\n');
  }
}

// A header chunk that claims to run far past the end of the file (damage, not
// a cut) is refused when the network is built; libsndfile would spin on it.
TEST(CutOffInput, HeaderChunkRunningPastTheEndIsABuildError) {
  ScratchFolder folder;
  writeText(folder / "net.yaml", roundTrip());
  const std::string damaged =
      hosttest::sourceFolder() + "/fuzz/regressions/wave/list-chunk-past-the-end-hangs-libsndfile";
  auto result = runKolv(folder, "run net.yaml --set source.FILE='" + damaged + "'");
  EXPECT_EQ(result.status, 2) << result.err;
  EXPECT_NE(result.err.find("damaged WAV header: the 'LIST' chunk of 4294967295 bytes"),
            std::string::npos)
      << result.err;
}
