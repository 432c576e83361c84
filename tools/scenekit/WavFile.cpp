#include "WavFile.h"

#include <sndfile.h>

#include <cmath>
#include <memory>
#include <stdexcept>

namespace scenekit {

namespace {

constexpr double kFullScale16 = 32768.0;

struct SndfileCloser {
  void operator()(SNDFILE *f) const { sf_close(f); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

}  // namespace

Audio readWav(const std::string &path) {
  SF_INFO info{};
  SndfileHandle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw std::runtime_error("cannot read audio file " + path + ": " + sf_strerror(nullptr));
  Audio audio;
  audio.samplingRate = info.samplerate;
  std::vector<double> interleaved(static_cast<size_t>(info.frames) * info.channels);
  sf_count_t got = sf_readf_double(file.get(), interleaved.data(), info.frames);
  if (got != info.frames) throw std::runtime_error("audio file " + path + " ends early");
  audio.channels.assign(info.channels, std::vector<double>(info.frames));
  for (sf_count_t n = 0; n < info.frames; ++n)
    for (int c = 0; c < info.channels; ++c) audio.channels[c][n] = interleaved[n * info.channels + c];
  return audio;
}

short quantize16(double sample) {
  double scaled = std::nearbyint(sample * kFullScale16);
  if (scaled > 32767.0) return 32767;
  if (scaled < -32768.0) return -32768;
  return static_cast<short>(scaled);
}

size_t writeWav16(const std::string &path, const Audio &audio) {
  SF_INFO info{};
  info.samplerate = audio.samplingRate;
  info.channels = static_cast<int>(audio.channels.size());
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndfileHandle file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
  size_t frames = audio.frames();
  std::vector<short> interleaved(frames * audio.channels.size());
  size_t clipped = 0;
  for (size_t n = 0; n < frames; ++n) {
    for (size_t c = 0; c < audio.channels.size(); ++c) {
      double rounded = std::nearbyint(audio.channels[c][n] * kFullScale16);
      if (rounded > 32767.0 || rounded < -32768.0) ++clipped;
      interleaved[n * audio.channels.size() + c] = quantize16(audio.channels[c][n]);
    }
  }
  if (sf_writef_short(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
      static_cast<sf_count_t>(frames))
    throw std::runtime_error("cannot write " + path + ": " + sf_strerror(file.get()));
  return clipped;
}

void writeWavFloat(const std::string &path, const Audio &audio) {
  SF_INFO info{};
  info.samplerate = audio.samplingRate;
  info.channels = static_cast<int>(audio.channels.size());
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SndfileHandle file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
  const size_t frames = audio.frames();
  std::vector<float> interleaved(frames * audio.channels.size());
  for (size_t n = 0; n < frames; ++n)
    for (size_t c = 0; c < audio.channels.size(); ++c)
      interleaved[n * audio.channels.size() + c] = static_cast<float>(audio.channels[c][n]);
  if (sf_writef_float(file.get(), interleaved.data(), static_cast<sf_count_t>(frames)) !=
      static_cast<sf_count_t>(frames))
    throw std::runtime_error("cannot write " + path + ": " + sf_strerror(file.get()));
}

}  // namespace scenekit
