// Helpers for the host's tests: scratch folders, WAV files written and read
// with libsndfile, and runs of the real kolv binary.
#ifndef KOLV_HOST_TEST_SUPPORT_H
#define KOLV_HOST_TEST_SUPPORT_H

#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace hosttest {

namespace fs = std::filesystem;

// The environment variable `name`, or the folder this test program was
// built for when ctest did not set it.
inline std::string folderFromEnvironment(const char *name, const char *builtFor) {
  const char *value = std::getenv(name);
  return value ? value : builtFor;
}

inline std::string buildFolder() {
  return folderFromEnvironment("KOLV_BUILD_DIR", KOLV_TEST_BUILD_DIR);
}
inline std::string sourceFolder() {
  return folderFromEnvironment("KOLV_SOURCE_DIR", KOLV_TEST_SOURCE_DIR);
}
inline std::string kolvBinary() { return buildFolder() + "/kolv"; }
inline std::string probeToolboxFolder() { return buildFolder() + "/tests/host/toolbox"; }

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "kolv-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }
  const fs::path &path() const { return path_; }

 private:
  fs::path path_;
};

inline void writeText(const std::string &path, const std::string &text) {
  std::ofstream out(path);
  out << text;
}

inline std::string readText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Wav {
  int channels = 0;
  int rate = 0;
  std::vector<double> samples;  // interleaved, on the 16-bit scale
  long long frames() const {
    return channels ? static_cast<long long>(samples.size()) / channels : 0;
  }
};

// Writes `wav` with libsndfile in `format` (e.g. SF_FORMAT_PCM_16).
inline void writeWav(const std::string &path, const Wav &wav, int format) {
  SF_INFO info{};
  info.channels = wav.channels;
  info.samplerate = wav.rate;
  info.format = SF_FORMAT_WAV | format;
  SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f)
    throw std::runtime_error(std::string("cannot write ") + path + ": " + sf_strerror(nullptr));
  std::vector<double> scaled(wav.samples.size());
  for (size_t i = 0; i < scaled.size(); ++i) scaled[i] = wav.samples[i] / 32768.0;
  sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_writef_double(f, scaled.data(), wav.frames());
  sf_close(f);
}

inline Wav readWav(const std::string &path) {
  SF_INFO info{};
  SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f)
    throw std::runtime_error(std::string("cannot read ") + path + ": " + sf_strerror(nullptr));
  Wav wav;
  wav.channels = info.channels;
  wav.rate = info.samplerate;
  wav.samples.resize(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_double(f, wav.samples.data(), info.frames);
  sf_close(f);
  for (double &s : wav.samples) s *= 32768.0;
  return wav;
}

// A two-channel test signal of whole 16-bit values: two tones and a ramp.
inline Wav testSignal(long long frames, int rate = 16000) {
  Wav wav;
  wav.channels = 2;
  wav.rate = rate;
  for (long long n = 0; n < frames; ++n) {
    wav.samples.push_back(std::round(8000.0 * std::sin(0.05 * n)));
    wav.samples.push_back(std::round(6000.0 * std::cos(0.031 * n) + (n % 97) * 10.0));
  }
  return wav;
}

struct KolvResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `kolv ARGS` in `folder` (shell words; the caller quotes), with the
// test toolbox on KOLV_TOOLBOX_PATH. `input` is a shell command whose output
// is piped into kolv, if not empty.
inline KolvResult runKolv(const ScratchFolder &folder, const std::string &args,
                          const std::string &input = "") {
  std::string out = folder / ".kolv-stdout", err = folder / ".kolv-stderr";
  std::string command = "cd '" + folder.path().string() + "' && " +
                        (input.empty() ? "" : input + " | ") + "KOLV_TOOLBOX_PATH='" +
                        probeToolboxFolder() + "' '" + kolvBinary() + "' " + args + " > '" + out +
                        "' 2> '" + err + "'";
  int raw = std::system(command.c_str());
  KolvResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = readText(out);
  result.err = readText(err);
  return result;
}

}  // namespace hosttest

#endif
