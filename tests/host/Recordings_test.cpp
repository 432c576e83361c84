// Recordings as users bring them, through the real kolv: other sampling rates
// (files and streams), the wrong channel count, typed-wrong method names, a
// stream that stalls when Ctrl-C comes, a sound card (ALSA's file plugin), WAV
// through a pipe, runs side by side and a disk that fills up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

#include "HostTestSupport.h"

namespace {

using hosttest::KolvResult;
using hosttest::readText;
using hosttest::runKolv;
using hosttest::ScratchFolder;
using hosttest::writeText;

std::string demoScene() { return hosttest::sourceFolder() + "/data/demo/scene.wav"; }
std::string exampleNetwork(const std::string &name) {
  return "'" + hosttest::sourceFolder() + "/networks/" + name + "'";
}

// The azimuths of a SourceTable CSV, one per row.
std::vector<double> azimuths(const std::string &csv) {
  std::istringstream in(readText(csv));
  std::string line;
  std::getline(in, line);  // header
  std::vector<double> found;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    if (fields.size() == 5) found.push_back(std::stod(fields[3]));
  }
  return found;
}

// The median azimuth of the rows on each side of 0 degrees.
std::pair<double, double> sideMedians(const std::vector<double> &all) {
  std::vector<double> left, right;
  for (double a : all) (a < 0 ? left : right).push_back(a);
  auto median = [](std::vector<double> v) {
    if (v.empty()) return std::nan("");
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  return {median(left), median(right)};
}

void resample(const std::string &from, const std::string &to, int rate) {
  const std::string command = "sox '" + from + "' -r " + std::to_string(rate) + " '" + to + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The demo's talkers sit at -40 and +30 degrees; at any rate of the
// recording, read from a file or a pipe, the network runs at its own 16 kHz
// and finds them where it finds them at 16 kHz.
TEST(Recordings, AnySampleRateIsTrackedAtTheSameDirections) {
  ScratchFolder folder;
  ASSERT_EQ(runKolv(folder, "run " + exampleNetwork("localize.yaml") + " --quiet --out at16k").status, 0);
  const auto reference = sideMedians(azimuths(folder / "at16k/tracked.csv"));
  ASSERT_NEAR(reference.first, -40.0, 5.0);
  ASSERT_NEAR(reference.second, 30.0, 5.0);
  for (int rate : {44100, 48000, 8000}) {
    const std::string file = folder / ("scene-" + std::to_string(rate) + ".wav");
    resample(demoScene(), file, rate);
    for (bool piped : {false, true}) {
      SCOPED_TRACE(std::to_string(rate) + (piped ? " Hz through a pipe" : " Hz from a file"));
      const std::string out = "out-" + std::to_string(rate) + (piped ? "-pipe" : "-file");
      KolvResult result = runKolv(folder,
                                  "run " + exampleNetwork("localize.yaml") + " --out " + out +
                                      " --set source.FILE=" + (piped ? "-" : "'" + file + "'"),
                                  piped ? "cat '" + file + "'" : "");
      ASSERT_EQ(result.status, 0) << result.err;
      EXPECT_NE(result.err.find("resampling"), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("from " + std::to_string(rate) + " Hz to 16000 Hz"),
                std::string::npos)
          << result.err;
      const std::vector<double> tracked = azimuths(folder / (out + "/tracked.csv"));
      const auto medians = sideMedians(tracked);
      // 8 kHz keeps only the band below 4 kHz, the others all of it.
      const double tolerance = rate == 8000 ? 3.0 : 1.0;
      EXPECT_NEAR(medians.first, reference.first, tolerance);
      EXPECT_NEAR(medians.second, reference.second, tolerance);
      // The times of the rows are those of the recording, not of its samples.
      const std::string table = readText(folder / (out + "/tracked.csv"));
      EXPECT_EQ(table.find(",10.5"), std::string::npos) << "rows past the recording's 10 s";
    }
  }
}

TEST(Recordings, FewerChannelsThanANodeNeedsAreRefusedBeforeTheFirstFrame) {
  ScratchFolder folder;
  const std::string mono = folder / "mono.wav";
  const std::string command = "sox '" + demoScene() + "' -c 1 '" + mono + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  KolvResult result =
      runKolv(folder, "run " + exampleNetwork("localize.yaml") + " --set source.FILE=mono.wav");
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("node 'localization' (BinauralMultisourceLocalization): input "
                            "AUDIO_SPECTRUM needs at least 2 channels, but 'mono.wav' (node "
                            "'source') has 1"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "tracked.csv")) << "no frame may have run";
}

TEST(Recordings, MethodNamesANodeWouldTreatAsNoneAreWarnedOfEvenWhenQuiet) {
  struct Case {
    const char *network, *assignment, *expected;
  };
  const Case cases[] = {
      {"enhance.yaml", "enhancement.NOISE_REDUCTION_METHOD=wiener_filtering",
       "node 'enhancement' (SpeechEnhancement): parameter NOISE_REDUCTION_METHOD is "
       "'wiener_filtering', which is not one of SPECTRAL_SUBTRACTION, WIENER_FILTERING, "
       "TWO_STEP_WIENER_FILTERING, MINIMUM_MEAN_SQUARE_ERROR"},
      {"separate.yaml", "separation.ITERATION_METHOD=FASTIVA",
       "node 'separation' (SourceSeparation): parameter ITERATION_METHOD is 'FASTIVA', which is "
       "not one of [IVA]NATURAL_GRADIENT_DESCENT_METHOD, "
       "[FastIVA]NEWTON_METHOD_WITH_FIXED_POINT_ITERATION"},
      {"enhance.yaml", "enhancement.HARMONIC_REGENERATION=use",
       "node 'enhancement' (SpeechEnhancement): parameter HARMONIC_REGENERATION is 'use', which is "
       "not one of USE, NO"},
  };
  ScratchFolder folder;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.assignment);
    KolvResult result = runKolv(folder, std::string("run ") + exampleNetwork(c.network) +
                                            " --quiet --frames 5 --set " + c.assignment);
    // The node keeps its documented behaviour for such a value: the run goes on.
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find(std::string("kolv: warning: ") + hosttest::sourceFolder() +
                              "/networks/" + c.network),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
  }
}

TEST(Recordings, ARecordingShorterThanALearningPeriodIsWarnedOfOnce) {
  ScratchFolder folder;
  hosttest::writeWav(folder / "short.wav", hosttest::testSignal(8000), SF_FORMAT_PCM_16);
  KolvResult result = runKolv(
      folder, "run " + exampleNetwork("vad.yaml") + " --quiet --set source.FILE=short.wav");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string expected =
      "node 'vad' (VoiceActivityDetection): 'short.wav' lasts 0.5 s, less than its "
      "VAD_NOISE_DURATION of 1 s";
  EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find(expected), result.err.rfind(expected));
}

// A writer that sends part of a recording and then stalls, as a network
// stream or a sound server may: the first SIGINT ends the run at once, with
// every table whole.
TEST(Recordings, FirstInterruptEndsARunWaitingOnAStalledStream) {
  ScratchFolder folder;
  const std::string command = "cd '" + folder.path().string() + "' && (head -c 120000 '" +
                              demoScene() + "'; sleep 30) | '" + hosttest::kolvBinary() +
                              "' run " + exampleNetwork("vad.yaml") +
                              " --set source.FILE=- --set decisions.FILE=speech.csv 2> err";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // Let kolv read what there is and settle into waiting for more.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::system(("pgrep -g " + std::to_string(child) + " -x kolv > '" + (folder / "pid") + "'").c_str());
  const pid_t kolv = static_cast<pid_t>(std::stol(readText(folder / "pid")));
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(kolv, SIGINT), 0);
  int status = 0;
  while (kill(kolv, 0) == 0 &&
         std::chrono::steady_clock::now() - asked < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  EXPECT_LT(seconds, 1.0);
  kill(-child, SIGKILL);  // the writer's sleep
  waitpid(child, &status, 0);
  const std::string err = readText(folder / "err");
  EXPECT_NE(err.find("stopped by signal 2"), std::string::npos) << err;
  const std::string table = readText(folder / "speech.csv");
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.back(), '\n') << "the last row is whole";
}

// ALSA's file plugin plays a raw recording as a capture device: the network
// reads it as it would a sound card, a frame shift at a time.
TEST(Recordings, CapturesFromASoundCardThroughAlsa) {
  ScratchFolder folder;
  const std::string raw = folder / "scene.raw";
  ASSERT_EQ(std::system(("sox '" + demoScene() + "' -t raw -e signed -b 16 '" + raw + "'").c_str()),
            0);
  writeText(folder / ".asoundrc", "pcm.recording {\n  type file\n  slave.pcm \"null\"\n"
                                  "  file \"/dev/null\"\n  infile \"" + raw + "\"\n"
                                  "  format \"raw\"\n}\n");
  // ALSA reads the user's configuration from $HOME/.asoundrc.
  const std::string command = "cd '" + folder.path().string() + "' && HOME='" +
                              folder.path().string() + "' '" + hosttest::kolvBinary() + "' run " +
                              exampleNetwork("localize.yaml") +
                              " --quiet --frames 600 --set source.FILE=alsa:recording 2> err";
  ASSERT_EQ(std::system(command.c_str()), 0) << readText(folder / "err");
  const auto medians = sideMedians(azimuths(folder / "tracked.csv"));
  EXPECT_NEAR(medians.first, -40.0, 5.0);
}

TEST(Recordings, AudioThroughAPipeReadsBackIntoAnotherRun) {
  ScratchFolder folder;
  const std::string kolv = "'" + hosttest::kolvBinary() + "'";
  const std::string command =
      "cd '" + folder.path().string() + "' && " + kolv + " run " + exampleNetwork("roundtrip.yaml") +
      " --quiet --set sink.FILE=- 2> first.err | " + kolv + " run " +
      exampleNetwork("roundtrip.yaml") + " --quiet --set source.FILE=- --set sink.FILE=back.wav"
      " 2> second.err";
  ASSERT_EQ(std::system(command.c_str()), 0) << readText(folder / "first.err")
                                              << readText(folder / "second.err");
  const hosttest::Wav back = hosttest::readWav(folder / "back.wav");
  const hosttest::Wav demo = hosttest::readWav(demoScene());
  ASSERT_EQ(back.frames(), demo.frames());
  // Past the first frame, where the analysis windows do not yet overlap,
  // the spectrum gives the samples back exactly, twice over.
  const size_t firstFrame = 512 * 2;
  for (size_t i = firstFrame; i < demo.samples.size(); ++i)
    ASSERT_EQ(back.samples[i], demo.samples[i]) << "sample " << i / 2;

  // Written into a file, the stream's header gets its sizes.
  ASSERT_EQ(std::system(("cd '" + folder.path().string() + "' && " + kolv + " run " +
                         exampleNetwork("roundtrip.yaml") + " --quiet --set sink.FILE=- > saved.wav")
                            .c_str()),
            0);
  EXPECT_EQ(hosttest::readWav(folder / "saved.wav").frames(), demo.frames());
}

TEST(Recordings, RunsSideBySideWriteIntoTheirOwnFolders) {
  ScratchFolder folder;
  const std::string kolv = "'" + hosttest::kolvBinary() + "'";
  hosttest::writeWav(folder / "quiet.wav", hosttest::testSignal(32000), SF_FORMAT_PCM_16);
  const std::string command =
      "cd '" + folder.path().string() + "' && (" + kolv + " run " + exampleNetwork("vad.yaml") +
      " --quiet --out runs/demo & " + kolv + " run " + exampleNetwork("vad.yaml") +
      " --quiet --out runs/tones --set source.FILE=quiet.wav & wait)";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string demo = readText(folder / "runs/demo/speech.csv");
  const std::string tones = readText(folder / "runs/tones/speech.csv");
  EXPECT_EQ(std::count(demo.begin(), demo.end(), '\n'), 1001);
  EXPECT_EQ(std::count(tones.begin(), tones.end(), '\n'), 201);
  EXPECT_FALSE(std::filesystem::exists(folder / "speech.csv"));
}

TEST(Recordings, ASinkThatCannotWriteEndsTheRunAndTheOthersAreFinished) {
  ScratchFolder folder;
  KolvResult result = runKolv(folder, "run " + exampleNetwork("localize.yaml") +
                                          " --quiet --set tracked.FILE=/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("node 'tracked' (SourceTable) failed at frame"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("writing FILE '/dev/full' failed: No space left on device"),
            std::string::npos)
      << result.err;
  const std::string directions = readText(folder / "directions.csv");
  ASSERT_FALSE(directions.empty());
  EXPECT_EQ(directions.back(), '\n');

  result = runKolv(folder, "run " + exampleNetwork("enhance.yaml") +
                               " --quiet --set output.FILE=/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("node 'output' (WaveSink)"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("/dev/full"), std::string::npos) << result.err;
}

}  // namespace
