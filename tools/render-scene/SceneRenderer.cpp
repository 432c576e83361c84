#include "SceneRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "ActiveStretches.h"
#include "Convolution.h"
#include "DiffuseNoise.h"
#include "RoomResponses.h"
#include "WavFile.h"

namespace render {

namespace {

constexpr double kTailSeconds = 0.5;  // of noise after the last image when no duration is given
constexpr double kMaxAzimuth = 180.0;
constexpr double kMaxElevation = 90.0;
// Nearer than this the far-field responses, measured at 1.4 m, no longer hold.
constexpr double kNearestDistance = 0.5;  // m
// A moving source's way through the room is checked every this many degrees.
constexpr double kPathCheckStepDeg = 1.0;

std::string describe(size_t index, const SourceSpec &source) {
  return "source " + std::to_string(index + 1) + " (" + source.file + ")";
}

// A figure for a message, as the user would have typed it.
std::string shortNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

void checkDirection(const HrtfSet &hrtf, size_t index, const SourceSpec &source, double azimuth) {
  if (!(std::fabs(azimuth) <= kMaxAzimuth))
    throw std::runtime_error("azimuth " + shortNumber(azimuth) + " of " + describe(index, source) +
                             " is outside the range -180 to 180 degrees");
  if (!(std::fabs(source.elevation) <= kMaxElevation))
    throw std::runtime_error("elevation " + shortNumber(source.elevation) + " of " + describe(index, source) +
                             " is outside the range -90 to 90 degrees");
  double gap = hrtf.distanceToMeasured(azimuth, source.elevation);
  if (gap > hrtf.coarsestSpacing())
    throw std::runtime_error("azimuth " + shortNumber(azimuth) + ", elevation " + shortNumber(source.elevation) +
                             " of " + describe(index, source) + " is outside the measured set's range: the nearest " +
                             "measurement is " + shortNumber(gap) + " degrees away");
}

// The azimuths a source takes: its fixed one, or its path's points.
std::vector<double> azimuthsOf(const SourceSpec &source) {
  if (source.path.empty()) return {source.azimuth};
  std::vector<double> azimuths;
  for (const PathPoint &p : source.path) azimuths.push_back(p.azimuth);
  return azimuths;
}

void checkPath(size_t index, const SourceSpec &source) {
  for (size_t i = 0; i < source.path.size(); ++i) {
    const PathPoint &p = source.path[i];
    if (!std::isfinite(p.time) || p.time < 0.0)
      throw std::runtime_error("path point " + std::to_string(i + 1) + " of " + describe(index, source) + " is at " +
                               shortNumber(p.time) + " s; times must be 0 or later");
    if (i > 0 && !(p.time > source.path[i - 1].time))
      throw std::runtime_error("path of " + describe(index, source) + " goes back in time: point " +
                               std::to_string(i + 1) + " at " + shortNumber(p.time) + " s follows point " +
                               std::to_string(i) + " at " + shortNumber(source.path[i - 1].time) + " s");
  }
}

void checkInRoom(const Room &room, size_t index, const SourceSpec &source) {
  if (!(source.distance >= kNearestDistance) || !std::isfinite(source.distance))
    throw std::runtime_error("distance " + shortNumber(source.distance) + " m of " + describe(index, source) +
                             " is nearer than " + shortNumber(kNearestDistance) +
                             " m; the measured head responses hold farther out");
  std::vector<double> azimuths = azimuthsOf(source);
  for (size_t i = 1; i < source.path.size(); ++i) {
    const double from = source.path[i - 1].azimuth, to = source.path[i].azimuth;
    const int steps = static_cast<int>(std::ceil(std::fabs(to - from) / kPathCheckStepDeg));
    for (int s = 1; s < steps; ++s) azimuths.push_back(from + (to - from) * s / steps);
  }
  for (double azimuth : azimuths) {
    const Point p = sourcePosition(room, azimuth, source.elevation, source.distance);
    if (!isInside(room, p))
      throw std::runtime_error(describe(index, source) + " at azimuth " + shortNumber(azimuth) + ", elevation " +
                               shortNumber(source.elevation) + ", distance " + shortNumber(source.distance) +
                               " m lies at " + describePoint(p) + ", outside the room " + describeSize(room.size) +
                               " around the head at " + describePoint(room.head));
  }
}

Room roomOf(const RoomLayout &layout) {
  Room room{layout.size, layout.head, layout.facing, 0.0};
  room.absorption = eyringAbsorption(layout.size, layout.rt60);
  checkRoom(room, layout.rt60);
  return room;
}

// The noise of each source's tail, apart from the diffuse noise's and each other's.
uint64_t tailSeed(uint64_t seed, size_t index) { return seed * 0x9E3779B97F4A7C15ull + index + 1; }

Channels asDoubles(const HrirPair &h) {
  return {std::vector<double>(h.left.begin(), h.left.end()), std::vector<double>(h.right.begin(), h.right.end())};
}

Channels silence(size_t length) { return Channels(2, std::vector<double>(length, 0.0)); }

void addThroughResponse(const std::vector<double> &recording, const Channels &response, Channels &image,
                        size_t start) {
  for (size_t c = 0; c < 2; ++c) addFftConvolved(recording, response[c], image[c], start);
}

Channels anechoicImage(const HrtfSet &hrtf, const SourceSpec &source, const std::vector<double> &recording,
                       size_t start, size_t length) {
  Channels image = silence(length);
  if (source.path.empty()) {
    HrirPair h = hrtf.responses(source.azimuth, source.elevation);
    addConvolved(recording, h.left, image[0], start);
    addConvolved(recording, h.right, image[1], start);
  } else {
    addMoving(recording, start, hrtf.samplingRate(), source.path,
              [&](double azimuth) { return asDoubles(hrtf.responses(azimuth, source.elevation)); }, image);
  }
  return image;
}

// One source in the room: its whole image, its direct-plus-early image and
// its response at its start, with the figures measured on that response.
struct RoomImage {
  Channels image, early, response;
  double rt60, directToReverberantDb;
};

RoomImage roomImage(const RoomResponses &room, const SourceSpec &source, const std::vector<double> &recording,
                    size_t start, size_t length, int rate, uint64_t seed) {
  const double azimuth = azimuthAt(source, static_cast<double>(start) / rate);
  const double el = source.elevation, d = source.distance;
  const Channels toJoin = room.toJoin(azimuth, el, d);
  const Channels tail = room.tail(toJoin, d, seed);
  const Channels earlyTail = room.tailWithin(tail, d, kEarlyAfterDirect);
  RoomImage out{silence(length), silence(length), sumOfResponses(toJoin, tail), 0.0, 0.0};
  if (source.path.empty()) {
    addThroughResponse(recording, out.response, out.image, start);
    addThroughResponse(recording, sumOfResponses(room.images(azimuth, el, d, kEarlyAfterDirect), earlyTail), out.early,
                       start);
  } else {
    // The tail is diffuse: it stays as it was at the start while the images follow the path.
    addMoving(recording, start, rate, source.path, [&](double az) { return room.toJoin(az, el, d); }, out.image);
    addThroughResponse(recording, tail, out.image, start);
    addMoving(recording, start, rate, source.path,
              [&](double az) { return room.images(az, el, d, kEarlyAfterDirect); }, out.early);
    addThroughResponse(recording, earlyTail, out.early, start);
  }
  out.rt60 = schroederRt60(out.response, rate);
  out.directToReverberantDb = directToReverberantDb(out.response, room.images(azimuth, el, d, 0.0));
  return out;
}

double peakOf(const Channels &signal) {
  double peak = 0.0;
  for (const auto &channel : signal)
    for (double x : channel) peak = std::max(peak, std::fabs(x));
  return peak;
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

double azimuthAt(const SourceSpec &source, double time) {
  return source.path.empty() ? source.azimuth : azimuthAlong(source.path, time);
}

RenderedScene renderScene(const SceneLayout &layout) {
  if (layout.samplingRate <= 0) throw std::runtime_error("the sampling rate must be positive");
  if (layout.sources.empty()) throw std::runtime_error("a scene needs at least one source");
  if (!std::isfinite(layout.snrDb)) throw std::runtime_error("the SNR must be a finite number of dB");
  if (!(layout.peakDb <= 0.0)) throw std::runtime_error("the peak level must be at most 0 dB full scale");
  if (layout.duration < 0.0 || !std::isfinite(layout.duration))
    throw std::runtime_error("the duration must be positive");
  std::optional<Room> room;
  if (layout.room) room = roomOf(*layout.room);
  HrtfSet hrtf(layout.headFile, layout.samplingRate, layout.headScale, layout.headFormat);
  const int rate = layout.samplingRate;
  std::optional<RoomResponses> roomResponses;
  if (room) roomResponses.emplace(hrtf, *room, layout.room->rt60);

  std::vector<std::vector<double>> recordings;
  std::vector<size_t> starts;
  size_t lastImageEnd = 0;
  for (size_t i = 0; i < layout.sources.size(); ++i) {
    const SourceSpec &source = layout.sources[i];
    checkPath(i, source);
    for (double azimuth : azimuthsOf(source)) checkDirection(hrtf, i, source, azimuth);
    if (room) checkInRoom(*room, i, source);
    if (!(source.start >= 0.0))
      throw std::runtime_error("start " + shortNumber(source.start) + " s of " + describe(i, source) + " is negative");
    recordings.push_back(loadMono(source, i, rate));
    starts.push_back(sampleAt(source.start, rate));
    const size_t responseLength =
        roomResponses ? roomResponses->length(source.distance) : static_cast<size_t>(hrtf.filterLength());
    lastImageEnd = std::max(lastImageEnd, starts.back() + recordings.back().size() + responseLength - 1);
  }

  RenderedScene scene;
  scene.samplingRate = rate;
  const size_t length = layout.duration > 0.0 ? sampleAt(layout.duration, rate) : lastImageEnd + sampleAt(kTailSeconds, rate);
  scene.duration = static_cast<double>(length) / rate;
  if (room) {
    scene.room.emplace();
    scene.room->absorption = room->absorption;
  }
  for (size_t i = 0; i < layout.sources.size(); ++i) {
    if (starts[i] >= length)
      throw std::runtime_error(describe(i, layout.sources[i]) + " starts at " + shortNumber(layout.sources[i].start) +
                               " s, after the scene ends at " + shortNumber(scene.duration) + " s");
    if (roomResponses) {
      RoomImage r = roomImage(*roomResponses, layout.sources[i], recordings[i], starts[i], length, rate,
                              tailSeed(layout.seed, i));
      scene.images.push_back(std::move(r.image));
      scene.room->earlyImages.push_back(std::move(r.early));
      scene.room->responses.push_back(std::move(r.response));
      scene.room->rt60.push_back(r.rt60);
      scene.room->directToReverberantDb.push_back(r.directToReverberantDb);
    } else {
      scene.images.push_back(anechoicImage(hrtf, layout.sources[i], recordings[i], starts[i], length));
    }
    scene.active.push_back(placedInScene(findActiveStretches(recordings[i], rate), starts[i], length, rate));
  }

  if (layout.noise) {
    std::vector<scenekit::Stretch> speech;
    for (const auto &a : scene.active) speech.insert(speech.end(), a.begin(), a.end());
    scene.noise = renderDiffuseNoise(hrtf, length, layout.seed);
    const double snrAsRendered = measureSnrDb(scene.images, scene.noise, speech, rate);
    if (!std::isfinite(snrAsRendered))
      throw std::runtime_error("the sources are silent within the scene: there is no speech to set the SNR against");
    scaleAll(scene.noise, std::pow(10.0, (snrAsRendered - layout.snrDb) / 20.0));
  } else {
    scene.noise = silence(length);
  }

  scene.mixture = sumOf(scene.images, length);
  for (size_t c = 0; c < 2; ++c)
    for (size_t n = 0; n < length; ++n) scene.mixture[c][n] += scene.noise[c][n];
  const double peak = peakOf(scene.mixture);
  if (!(peak > 0.0)) throw std::runtime_error("the scene is silent: the sources are silent within it");
  scene.scale = std::pow(10.0, layout.peakDb / 20.0) / peak;
  scaleAll(scene.mixture, scene.scale);
  scaleAll(scene.noise, scene.scale);
  for (auto &image : scene.images) scaleAll(image, scene.scale);
  if (scene.room)
    for (auto &image : scene.room->earlyImages) scaleAll(image, scene.scale);
  return scene;
}

}  // namespace render
