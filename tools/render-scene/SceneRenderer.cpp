#include "SceneRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "ActiveStretches.h"
#include "Convolution.h"
#include "DiffuseNoise.h"
#include "WavFile.h"

namespace render {

namespace {

constexpr double kTailSeconds = 0.5;  // of noise after the last image when no duration is given
constexpr double kMaxAzimuth = 180.0;
constexpr double kMaxElevation = 90.0;

std::string describe(size_t index, const SourceSpec &source) {
  return "source " + std::to_string(index + 1) + " (" + source.file + ")";
}

// A figure for a message, as the user would have typed it.
std::string shortNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void checkDirection(const HrtfSet &hrtf, size_t index, const SourceSpec &source) {
  if (!(std::fabs(source.azimuth) <= kMaxAzimuth))
    throw std::runtime_error("azimuth " + shortNumber(source.azimuth) + " of " + describe(index, source) +
                             " is outside the range -180 to 180 degrees");
  if (!(std::fabs(source.elevation) <= kMaxElevation))
    throw std::runtime_error("elevation " + shortNumber(source.elevation) + " of " + describe(index, source) +
                             " is outside the range -90 to 90 degrees");
  double gap = hrtf.distanceToMeasured(source.azimuth, source.elevation);
  if (gap > hrtf.coarsestSpacing())
    throw std::runtime_error("azimuth " + shortNumber(source.azimuth) + ", elevation " + shortNumber(source.elevation) +
                             " of " + describe(index, source) + " is outside the measured set's range: the nearest " +
                             "measurement is " + shortNumber(gap) + " degrees away");
}

std::vector<double> loadMono(const SourceSpec &source, size_t index, int samplingRate) {
  scenekit::Audio audio = scenekit::readWav(source.file);
  if (audio.samplingRate != samplingRate)
    throw std::runtime_error(describe(index, source) + " is sampled at " + std::to_string(audio.samplingRate) +
                             " Hz, not the scene's " + std::to_string(samplingRate) +
                             " Hz; resample it first, for example: sox IN.wav -r " + std::to_string(samplingRate) +
                             " OUT.wav");
  if (audio.channels.size() != 1)
    throw std::runtime_error(describe(index, source) + " has " + std::to_string(audio.channels.size()) +
                             " channels; the renderer places mono recordings");
  const double gain = std::pow(10.0, source.gainDb / 20.0);
  std::vector<double> mono = std::move(audio.channels[0]);
  for (double &x : mono) x *= gain;
  return mono;
}

double meanPower(const Channels &signal, const std::vector<char> &mask) {
  double sum = 0.0;
  size_t count = 0;
  for (const auto &channel : signal)
    for (size_t n = 0; n < channel.size(); ++n)
      if (mask[n]) {
        sum += channel[n] * channel[n];
        ++count;
      }
  return count ? sum / static_cast<double>(count) : 0.0;
}

std::vector<char> activeMask(const std::vector<scenekit::Stretch> &speech, size_t length, int samplingRate) {
  std::vector<char> mask(length, 0);
  for (const auto &s : speech) {
    size_t end = std::min(length, sampleAt(s.end, samplingRate));
    for (size_t n = sampleAt(s.start, samplingRate); n < end; ++n) mask[n] = 1;
  }
  return mask;
}

Channels sumOf(const std::vector<Channels> &images, size_t length) {
  Channels sum(2, std::vector<double>(length, 0.0));
  for (const auto &image : images)
    for (size_t c = 0; c < 2; ++c)
      for (size_t n = 0; n < length; ++n) sum[c][n] += image[c][n];
  return sum;
}

// Stretches of a recording that starts at sample `offset`, in seconds of the
// scene, kept to whole samples so that they read back as exact sample times.
std::vector<scenekit::Stretch> placedInScene(const std::vector<scenekit::Stretch> &stretches, size_t offset,
                                             size_t length, int samplingRate) {
  std::vector<scenekit::Stretch> out;
  for (const auto &s : stretches) {
    size_t start = offset + sampleAt(s.start, samplingRate);
    size_t end = std::min(length, offset + sampleAt(s.end, samplingRate));
    if (start < end)
      out.push_back({static_cast<double>(start) / samplingRate, static_cast<double>(end) / samplingRate});
  }
  return out;
}

void scaleAll(Channels &signal, double factor) {
  for (auto &channel : signal)
    for (double &x : channel) x *= factor;
}

}  // namespace

size_t sampleAt(double seconds, int samplingRate) {
  return static_cast<size_t>(std::llround(seconds * samplingRate));
}

double measureSnrDb(const std::vector<Channels> &images, const Channels &noise,
                    const std::vector<scenekit::Stretch> &speech, int samplingRate) {
  const size_t length = noise.at(0).size();
  const double speechPower = meanPower(sumOf(images, length), activeMask(speech, length, samplingRate));
  const double noisePower = meanPower(noise, std::vector<char>(length, 1));
  return 10.0 * std::log10(speechPower / noisePower);
}

RenderedScene renderScene(const SceneLayout &layout) {
  if (layout.samplingRate <= 0) throw std::runtime_error("the sampling rate must be positive");
  if (layout.sources.empty()) throw std::runtime_error("a scene needs at least one source");
  if (!std::isfinite(layout.snrDb)) throw std::runtime_error("the SNR must be a finite number of dB");
  if (!(layout.peakDb <= 0.0)) throw std::runtime_error("the peak level must be at most 0 dB full scale");
  if (layout.duration < 0.0 || !std::isfinite(layout.duration))
    throw std::runtime_error("the duration must be positive");
  HrtfSet hrtf(layout.sofa, layout.samplingRate);
  const int rate = layout.samplingRate;

  std::vector<std::vector<double>> recordings;
  std::vector<size_t> starts;
  size_t lastImageEnd = 0;
  for (size_t i = 0; i < layout.sources.size(); ++i) {
    const SourceSpec &source = layout.sources[i];
    checkDirection(hrtf, i, source);
    if (!(source.start >= 0.0))
      throw std::runtime_error("start " + shortNumber(source.start) + " s of " + describe(i, source) + " is negative");
    recordings.push_back(loadMono(source, i, rate));
    starts.push_back(sampleAt(source.start, rate));
    lastImageEnd = std::max(lastImageEnd, starts.back() + recordings.back().size() + hrtf.filterLength() - 1);
  }

  RenderedScene scene;
  scene.samplingRate = rate;
  const size_t length = layout.duration > 0.0 ? sampleAt(layout.duration, rate) : lastImageEnd + sampleAt(kTailSeconds, rate);
  scene.duration = static_cast<double>(length) / rate;
  for (size_t i = 0; i < layout.sources.size(); ++i) {
    if (starts[i] >= length)
      throw std::runtime_error(describe(i, layout.sources[i]) + " starts at " + shortNumber(layout.sources[i].start) +
                               " s, after the scene ends at " + shortNumber(scene.duration) + " s");
    HrirPair h = hrtf.responses(layout.sources[i].azimuth, layout.sources[i].elevation);
    Channels image(2, std::vector<double>(length, 0.0));
    addConvolved(recordings[i], h.left, image[0], starts[i]);
    addConvolved(recordings[i], h.right, image[1], starts[i]);
    scene.images.push_back(std::move(image));
    scene.active.push_back(placedInScene(findActiveStretches(recordings[i], rate), starts[i], length, rate));
  }

  std::vector<scenekit::Stretch> speech;
  for (const auto &a : scene.active) speech.insert(speech.end(), a.begin(), a.end());
  scene.noise = renderDiffuseNoise(hrtf, length, layout.seed);
  const double snrAsRendered = measureSnrDb(scene.images, scene.noise, speech, rate);
  if (!std::isfinite(snrAsRendered))
    throw std::runtime_error("the sources are silent within the scene: there is no speech to set the SNR against");
  scaleAll(scene.noise, std::pow(10.0, (snrAsRendered - layout.snrDb) / 20.0));

  scene.mixture = sumOf(scene.images, length);
  for (size_t c = 0; c < 2; ++c)
    for (size_t n = 0; n < length; ++n) scene.mixture[c][n] += scene.noise[c][n];
  double peak = 0.0;
  for (const auto &channel : scene.mixture)
    for (double x : channel) peak = std::max(peak, std::fabs(x));
  scene.scale = std::pow(10.0, layout.peakDb / 20.0) / peak;
  scaleAll(scene.mixture, scene.scale);
  scaleAll(scene.noise, scene.scale);
  for (auto &image : scene.images) scaleAll(image, scene.scale);
  return scene;
}

}  // namespace render
