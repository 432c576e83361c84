// Noisy two-channel speech with known parts, for measuring the enhancement
// nodes: read speech (pocketsphinx's test recordings) on both channels, and
// generated white, pink, diffuse or level-modulated noise at a chosen SNR,
// optionally after a noise-only lead-in and with a noise step. Each part is
// cut into Hann-windowed spectra as the STFT node delivers them, so that a
// gain can be applied to the speech and the noise apart.
#ifndef KOLV_TEST_NOISY_SPEECH_SCENES_H
#define KOLV_TEST_NOISY_SPEECH_SCENES_H

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "RealTransform.h"
#include "WavFile.h"

namespace noisyspeech {

constexpr int kRate = 16000;
constexpr int kLength = 512;
constexpr int kAdvance = 160;
constexpr int kCols = kLength / 2 + 1;
constexpr int kRows = 2;
constexpr double kPi = 3.141592653589793;
constexpr double kFullScale = 32768.0;  // samples on the 16-bit scale, as WaveSource reads them

using Complex = std::complex<float>;
using Channels = std::vector<std::vector<double>>;
using Frames = std::vector<std::vector<Complex>>;  // per frame: rows x cols, row-major

enum class Noise { White, Pink, Diffuse, Modulated };

inline std::string noiseName(Noise n) {
  switch (n) {
    case Noise::White: return "white";
    case Noise::Pink: return "pink";
    case Noise::Diffuse: return "diffuse";
    case Noise::Modulated: return "modulated";
  }
  return "";
}

struct SceneRecipe {
  Noise noise = Noise::White;
  double snrDb = 5.0;
  double leadIn = 1.0;      // s of noise alone before the speech
  double stepAt = -1.0;     // s from which the noise is 6 dB louder (negative: never)
  std::vector<std::string> recordings;  // mono 16 kHz speech, joined
  std::vector<double> pauses = {1.0, 0.5, 1.5};  // s of silence after each recording in turn
  unsigned seed = 1;
};

struct Scene {
  Channels clean, noise;
  int speechStart = 0;  // sample
  Frames cleanFrames, noiseFrames, noisyFrames;
};

inline std::vector<std::string> readSpeech(int files) {
  const std::string folder = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
  const char *ids[] = {"0870", "0880", "0890", "0920", "0930"};
  std::vector<std::string> out;
  for (int i = 0; i < files && i < 5; ++i) out.push_back(folder + ids[i] + ".wav");
  return out;
}

// Pink noise by Paul Kellet's filter of white noise.
class PinkFilter {
 public:
  double operator()(double w) {
    b0 = 0.99886 * b0 + w * 0.0555179;
    b1 = 0.99332 * b1 + w * 0.0750759;
    b2 = 0.96900 * b2 + w * 0.1538520;
    b3 = 0.86650 * b3 + w * 0.3104856;
    b4 = 0.55000 * b4 + w * 0.5329522;
    b5 = -0.7616 * b5 - w * 0.0168980;
    const double out = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
    b6 = w * 0.115926;
    return out;
  }

 private:
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
};

inline Channels makeNoise(Noise type, size_t samples, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  Channels n(kRows, std::vector<double>(samples, 0.0));
  if (type == Noise::Diffuse) {
    // Pink sources all round the head, each reaching the ears with its own
    // interaural delay (an 18 cm spacing): coherent at low frequencies,
    // incoherent at high ones, as in a diffuse field.
    constexpr int kDirections = 12;
    constexpr int kMaxDelay = 9;
    for (int d = 0; d < kDirections; ++d) {
      const int delay = static_cast<int>(std::lround(kMaxDelay * std::sin(2 * kPi * (d + 0.5) / kDirections)));
      PinkFilter pink;
      std::vector<double> source(samples + 2 * kMaxDelay);
      for (double &s : source) s = pink(normal(gen));
      for (size_t i = 0; i < samples; ++i) {
        n[0][i] += source[i + kMaxDelay + std::max(delay, 0)];
        n[1][i] += source[i + kMaxDelay - std::min(delay, 0)];
      }
    }
    return n;
  }
  for (auto &channel : n) {
    PinkFilter pink;
    for (size_t i = 0; i < samples; ++i) {
      const double w = normal(gen);
      channel[i] = type == Noise::White ? w : pink(w);
    }
  }
  if (type == Noise::Modulated)
    // Level swinging 6 dB either way, one cycle in 2.5 s.
    for (auto &channel : n)
      for (size_t i = 0; i < samples; ++i)
        channel[i] *= std::pow(10.0, 6.0 / 20.0 * std::sin(2 * kPi * 0.4 * i / kRate));
  return n;
}

inline double energy(const Channels &c, size_t from, size_t to) {
  double e = 0;
  for (const auto &channel : c)
    for (size_t i = from; i < to && i < channel.size(); ++i) e += channel[i] * channel[i];
  return e;
}

// Hann-windowed spectra, frame t covering samples t * ADVANCE .. + LENGTH - 1.
inline Frames spectra(const Channels &channels) {
  std::vector<float> window(kLength), frame(kLength);
  for (int n = 0; n < kLength; ++n) window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2 * kPi * n / kLength));
  enhancement::RealTransform transform(kLength / 2);
  Frames frames;
  const size_t samples = channels[0].size();
  for (size_t start = 0; start + kLength <= samples; start += kAdvance) {
    std::vector<Complex> spectrum(kRows * kCols);
    for (int r = 0; r < kRows; ++r) {
      for (int n = 0; n < kLength; ++n) frame[n] = static_cast<float>(channels[r][start + n]) * window[n];
      transform.forward(frame.data(), spectrum.data() + r * kCols);
    }
    frames.push_back(std::move(spectrum));
  }
  return frames;
}

inline Scene makeScene(const SceneRecipe &recipe) {
  std::vector<double> speech;
  for (size_t i = 0; i < recipe.recordings.size(); ++i) {
    const scenekit::Audio audio = scenekit::readWav(recipe.recordings[i]);
    speech.insert(speech.end(), audio.channels[0].begin(), audio.channels[0].end());
    if (!recipe.pauses.empty())
      speech.resize(speech.size() + static_cast<size_t>(recipe.pauses[i % recipe.pauses.size()] * kRate), 0.0);
  }
  Scene scene;
  scene.speechStart = static_cast<int>(recipe.leadIn * kRate);
  const size_t samples = scene.speechStart + speech.size();
  // A talker a little to the left: the right ear hears it later and weaker.
  constexpr int kInterauralDelay = 4;
  constexpr double kFarEarGain = 0.8;
  scene.clean.assign(kRows, std::vector<double>(samples, 0.0));
  for (size_t i = 0; i < speech.size(); ++i) {
    scene.clean[0][scene.speechStart + i] = speech[i] * kFullScale;
    if (i >= kInterauralDelay)
      scene.clean[1][scene.speechStart + i] = kFarEarGain * speech[i - kInterauralDelay] * kFullScale;
  }
  scene.noise = makeNoise(recipe.noise, samples, recipe.seed);
  // The SNR holds over the speech, before any step.
  const double scale = std::sqrt(energy(scene.clean, scene.speechStart, samples) /
                                 energy(scene.noise, scene.speechStart, samples) /
                                 std::pow(10.0, recipe.snrDb / 10.0));
  const size_t step = recipe.stepAt < 0 ? samples : static_cast<size_t>(recipe.stepAt * kRate);
  for (auto &channel : scene.noise)
    for (size_t i = 0; i < samples; ++i) channel[i] *= scale * (i >= step ? 2.0 : 1.0);
  Channels noisy = scene.clean;
  for (int r = 0; r < kRows; ++r)
    for (size_t i = 0; i < samples; ++i) noisy[r][i] += scene.noise[r][i];
  scene.cleanFrames = spectra(scene.clean);
  scene.noiseFrames = spectra(scene.noise);
  scene.noisyFrames = spectra(noisy);
  return scene;
}

// Start time of frame t in seconds: the centre of its window.
inline double frameTime(int t) { return (t * kAdvance + kLength / 2) / static_cast<double>(kRate); }

}  // namespace noisyspeech

#endif
