// Replays the fuzzers' seed corpora and every input they once failed on
// (fuzz/regressions/<target>/) through the same entry functions, built with
// the normal compiler: each must return normally. Under the sanitizer build
// this also checks them for leaks and undefined behaviour.
#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "EntryPoints.h"

namespace {

namespace fs = std::filesystem;

struct Target {
  const char *name;
  void (*entry)(const uint8_t *, size_t);
};

void PrintTo(const Target &target, std::ostream *out) { *out << target.name; }

const Target kTargets[] = {
    {"textform", &kolvfuzz::readTextForm},
    {"wave", &kolvfuzz::readWave},
    {"network", &kolvfuzz::loadNetwork},
    {"adaptive", &kolvfuzz::enhanceFrames},
};

std::vector<fs::path> inputsOf(const std::string &target) {
  std::vector<fs::path> files;
  for (const char *kind : {"corpus", "regressions"}) {
    fs::path folder = fs::path(KOLV_SOURCE_DIR) / "fuzz" / kind / target;
    if (!fs::is_directory(folder)) continue;
    for (const fs::directory_entry &e : fs::directory_iterator(folder))
      if (e.is_regular_file()) files.push_back(e.path());
  }
  return files;
}

std::string contents(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzInputs : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzInputs, EveryKeptInputIsHandled) {
  std::vector<fs::path> files = inputsOf(GetParam().name);
  ASSERT_FALSE(files.empty()) << "no seed corpus for " << GetParam().name;
  for (const fs::path &file : files) {
    std::string bytes = contents(file);
    try {
      GetParam().entry(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    } catch (std::exception &e) {
      ADD_FAILURE() << file << ": " << e.what();
    } catch (...) {
      ADD_FAILURE() << file << ": an exception that is not a std::exception";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
