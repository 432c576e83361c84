// Helpers for the scene tools' tests: scratch folders, synthetic recordings
// and running the tools' programs.
#ifndef KOLV_TESTS_TOOLTESTING_H
#define KOLV_TESTS_TOOLTESTING_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "WavFile.h"

namespace tooltest {

namespace fs = std::filesystem;

constexpr int kRate = 16000;

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("kolv-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

inline void writeMono(const std::string &path, const std::vector<double> &samples, int rate = kRate) {
  scenekit::Audio audio;
  audio.samplingRate = rate;
  audio.channels = {samples};
  scenekit::writeWav16(path, audio);
}

// Deterministic broadband bursts: `bursts` are [start, end) in seconds,
// silence elsewhere.
inline std::vector<double> bursts(double seconds, const std::vector<std::pair<double, double>> &on,
                                  double amplitude = 0.3, int rate = kRate) {
  std::vector<double> x(static_cast<size_t>(seconds * rate), 0.0);
  unsigned state = 12345;
  for (const auto &b : on)
    for (size_t n = static_cast<size_t>(b.first * rate); n < static_cast<size_t>(b.second * rate) && n < x.size(); ++n) {
      state = state * 1664525u + 1013904223u;
      x[n] = amplitude * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
  return x;
}

struct RunResult {
  int status;
  std::string output;  // standard output and error together
};

// Runs a program of the build folder with a shell command line tail.
inline RunResult runTool(const std::string &program, const std::string &arguments, const ScratchDir &dir) {
  std::string log = dir / "run.log";
  std::string command = std::string(KOLV_TOOLS_DIR) + "/" + program + " " + arguments + " >" + log + " 2>&1";
  int raw = std::system(command.c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

}  // namespace tooltest

#endif
