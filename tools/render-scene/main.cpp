// kolv-render-scene: renders a binaural scene for kolv from mono recordings,
// or measures the interaural delays of a head (--measure).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "InterauralDelay.h"
#include "SceneRenderer.h"
#include "Truth.h"
#include "WavFile.h"

namespace {

constexpr int kExitWriteFailed = 1;
constexpr int kExitBadInput = 2;
constexpr double kMeasureStepDeg = 15.0;
constexpr render::Band kWholeBand = {0.0, 1e9};
constexpr double kHeadHeight = 1.2;     // m, of the head's centre by default
constexpr double kTruthFrame = 0.01;    // s, of the moving sources' azimuths in the truth file

std::string usage() {
  return std::string() +
    "usage: kolv-render-scene --out DIR [options]\n"
    "                         --source FILE (--azimuth DEG | --path T:AZ,...) [source options] ...\n"
    "       kolv-render-scene --measure [--sofa FILE | --hrirs FILE] [--head-scale S] [--rate HZ]\n"
    "                         [--band LOW HIGH]\n"
    "\n"
    "Places mono recordings around a measured head, in free field or in a shoebox\n"
    "room, still or moving, adds diffuse noise and writes\n"
    "DIR/scene.wav (the two-channel mixture), DIR/sourceN.wav (each source's image at\n"
    "both ears) and DIR/truth.json. Channel 0 is the left ear; azimuth 0 is straight\n"
    "ahead and positive azimuths lie on the side of channel 1 (the right ear).\n"
    "\n"
    "scene options:\n"
    "  --out DIR        folder for the files (created if missing)\n"
    "  --rate HZ        sampling rate of the scene and the sources (16000)\n"
    "  --duration S     length of the scene (default: the last image's end + 0.5 s)\n"
    "  --snr DB         speech images over the diffuse noise (15)\n"
    "  --seed N         of the noise (1)\n"
    "  --peak DBFS      level of the mixture's largest sample (-3)\n"
    "  --sofa FILE      measured head (" + render::kDefaultSofaFile + ")\n"
    "  --hrirs FILE     another measured head, its horizontal plane in one WAV file:\n"
    "                   channels 2k and 2k+1 the left and right ear at k * 360 / N degrees\n"
    "                   counterclockwise of the front, as SoundScape Renderer's sets\n"
    "                   (/usr/share/ssr/default_hrirs.wav, the FABIAN head); sources\n"
    "                   stay in that plane\n"
    "  --head-scale S   a head S times as large as the measured one, 0.5 to 2 (1):\n"
    "                   every interaural delay grows by S\n"
    "  --noise-image    also write DIR/noise.wav, the noise at both ears\n"
    "  --no-noise       no diffuse noise (the SNR is not set)\n"
    "room options (without --room the scene is anechoic):\n"
    "  --room L,W,H     a shoebox room, length (x), width (y), height (z) in metres;\n"
    "                   also writes DIR/sourceN.early.wav (the direct path and the\n"
    "                   reflections within 50 ms) and DIR/sourceN.brir.wav (the response)\n"
    "  --rt60 S         reverberation time; sets the walls' absorption (required with --room)\n"
    "  --head X,Y,Z     the head's centre in the room (L/2, W/2, 1.2 m; half the\n"
    "                   height in rooms lower than 2.4 m)\n"
    "  --facing DEG     where the head faces, from the +x axis towards +y (0)\n"
    "source options, for the --source before them:\n"
    "  --azimuth DEG    -180 to 180; this or --path is required\n"
    "  --path T:AZ,...  a moving source: azimuth AZ at scene time T s, linear between\n"
    "                   the points, held before the first and after the last\n"
    "  --elevation DEG  (0)\n"
    "  --start S        where the recording begins in the scene (0)\n"
    "  --gain DB        (0)\n"
    "  --distance M     from the head's centre, in a room (1.5)\n";
}

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

double number(const std::string &option, const char *text) {
  char *end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v))
    throw UsageError("option " + option + " expects a number, not '" + text + "'");
  return v;
}

// "A,B,C": exactly `count` numbers separated by `separator`.
std::vector<double> numbers(const std::string &option, const std::string &text, size_t count, char separator) {
  std::vector<double> values;
  size_t from = 0;
  while (true) {
    const size_t to = text.find(separator, from);
    values.push_back(number(option, text.substr(from, to - from).c_str()));
    if (to == std::string::npos) break;
    from = to + 1;
  }
  if (values.size() != count)
    throw UsageError("option " + option + " expects " + std::to_string(count) + " numbers separated by '" +
                     separator + "', not '" + text + "'");
  return values;
}

render::Point point(const std::string &option, const char *text) {
  std::vector<double> v = numbers(option, text, 3, ',');
  return {v[0], v[1], v[2]};
}

std::vector<render::PathPoint> path(const std::string &option, const std::string &text) {
  std::vector<render::PathPoint> points;
  size_t from = 0;
  while (true) {
    const size_t to = text.find(',', from);
    std::vector<double> v = numbers(option, text.substr(from, to - from), 2, ':');
    points.push_back({v[0], v[1]});
    if (to == std::string::npos) break;
    from = to + 1;
  }
  return points;
}

// Where the head sits unless told: the middle of the floor, at a seated
// talker's or a robot's height.
render::Point defaultHead(const render::Point &size) {
  return {size.x / 2.0, size.y / 2.0, std::min(kHeadHeight, size.z / 2.0)};
}

struct Command {
  bool measure = false;
  bool noiseImage = false;
  std::string out;
  render::Band band = kWholeBand;
  render::SceneLayout scene;
  std::vector<bool> hasAzimuth;
  std::vector<bool> hasDistance;
  std::optional<render::Point> head;
  std::vector<std::string> roomOptions;  // given, to refuse them without --room
};

Command parse(int argc, char **argv) {
  Command cmd;
  bool headGiven = false;
  auto value = [&](int &i) -> const char * {
    if (i + 1 >= argc) throw UsageError(std::string("option ") + argv[i] + " needs a value");
    return argv[++i];
  };
  auto currentSource = [&](const std::string &option) -> render::SourceSpec & {
    if (cmd.scene.sources.empty()) throw UsageError("option " + option + " must follow a --source");
    return cmd.scene.sources.back();
  };
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") {
      std::cout << usage();
      std::exit(0);
    } else if (opt == "--measure") {
      cmd.measure = true;
    } else if (opt == "--band") {
      cmd.band.low = number(opt, value(i));
      cmd.band.high = number(opt, value(i));
    } else if (opt == "--out") {
      cmd.out = value(i);
    } else if (opt == "--rate") {
      double rate = number(opt, value(i));
      if (rate < 1.0 || rate != std::floor(rate)) throw UsageError("option --rate expects a whole number of Hz");
      cmd.scene.samplingRate = static_cast<int>(rate);
    } else if (opt == "--duration") {
      cmd.scene.duration = number(opt, value(i));
      if (cmd.scene.duration <= 0.0) throw UsageError("option --duration expects a positive number of seconds");
    } else if (opt == "--snr") {
      cmd.scene.snrDb = number(opt, value(i));
    } else if (opt == "--seed") {
      double seed = number(opt, value(i));
      if (seed < 0.0 || seed != std::floor(seed)) throw UsageError("option --seed expects a whole number");
      cmd.scene.seed = static_cast<uint64_t>(seed);
    } else if (opt == "--peak") {
      cmd.scene.peakDb = number(opt, value(i));
    } else if (opt == "--sofa" || opt == "--hrirs") {
      if (headGiven) throw UsageError("give the measured head once, with --sofa or --hrirs");
      headGiven = true;
      cmd.scene.headFile = value(i);
      cmd.scene.headFormat = opt == "--sofa" ? render::HeadFormat::Sofa : render::HeadFormat::HorizontalWav;
    } else if (opt == "--head-scale") {
      cmd.scene.headScale = number(opt, value(i));
      if (!(cmd.scene.headScale >= localization::kSmallestHeadScale &&
            cmd.scene.headScale <= localization::kLargestHeadScale)) {
        std::ostringstream what;
        what << "option --head-scale expects " << localization::kSmallestHeadScale << " to "
             << localization::kLargestHeadScale << ", the head's size over the measured one's";
        throw UsageError(what.str());
      }
    } else if (opt == "--noise-image") {
      cmd.noiseImage = true;
    } else if (opt == "--no-noise") {
      cmd.scene.noise = false;
    } else if (opt == "--room") {
      if (!cmd.scene.room) cmd.scene.room.emplace();
      cmd.scene.room->size = point(opt, value(i));
    } else if (opt == "--rt60" || opt == "--head" || opt == "--facing") {
      if (!cmd.scene.room) cmd.scene.room.emplace();
      cmd.roomOptions.push_back(opt);
      if (opt == "--rt60") cmd.scene.room->rt60 = number(opt, value(i));
      if (opt == "--head") cmd.head = point(opt, value(i));
      if (opt == "--facing") cmd.scene.room->facing = number(opt, value(i));
    } else if (opt == "--source") {
      cmd.scene.sources.push_back({});
      cmd.scene.sources.back().file = value(i);
      cmd.hasAzimuth.push_back(false);
      cmd.hasDistance.push_back(false);
    } else if (opt == "--azimuth" || opt == "--path") {
      render::SourceSpec &source = currentSource(opt);
      if (cmd.hasAzimuth.back())
        throw UsageError("source " + std::to_string(cmd.scene.sources.size()) + " (" + source.file +
                         ") has both --azimuth and --path, or one of them twice");
      if (opt == "--azimuth")
        source.azimuth = number(opt, value(i));
      else
        source.path = path(opt, value(i));
      cmd.hasAzimuth.back() = true;
    } else if (opt == "--distance") {
      currentSource(opt).distance = number(opt, value(i));
      cmd.hasDistance.back() = true;
    } else if (opt == "--elevation") {
      currentSource(opt).elevation = number(opt, value(i));
    } else if (opt == "--start") {
      currentSource(opt).start = number(opt, value(i));
    } else if (opt == "--gain") {
      currentSource(opt).gainDb = number(opt, value(i));
    } else {
      throw UsageError("unknown option '" + opt + "'");
    }
  }
  if (cmd.measure) return cmd;
  if (cmd.out.empty()) throw UsageError("missing --out DIR");
  if (cmd.scene.sources.empty()) throw UsageError("no --source given");
  for (size_t i = 0; i < cmd.hasAzimuth.size(); ++i)
    if (!cmd.hasAzimuth[i])
      throw UsageError("source " + std::to_string(i + 1) + " (" + cmd.scene.sources[i].file +
                       ") has no --azimuth (or --path)");
  if (cmd.noiseImage && !cmd.scene.noise) throw UsageError("--noise-image and --no-noise exclude each other");
  const bool hasRoomSize = cmd.scene.room && cmd.scene.room->size.x != 0.0;
  if (!hasRoomSize) {
    if (!cmd.roomOptions.empty()) throw UsageError("option " + cmd.roomOptions.front() + " needs --room");
    for (size_t i = 0; i < cmd.hasDistance.size(); ++i)
      if (cmd.hasDistance[i])
        throw UsageError("--distance of source " + std::to_string(i + 1) +
                         " needs --room: anechoic scenes place sources by direction only");
    cmd.scene.room.reset();
    return cmd;
  }
  if (std::find(cmd.roomOptions.begin(), cmd.roomOptions.end(), "--rt60") == cmd.roomOptions.end())
    throw UsageError("--room needs --rt60");
  cmd.scene.room->head = cmd.head ? *cmd.head : defaultHead(cmd.scene.room->size);
  return cmd;
}

int measure(const Command &cmd) {
  render::HrtfSet hrtf(cmd.scene.headFile, cmd.scene.samplingRate, cmd.scene.headScale, cmd.scene.headFormat);
  std::printf("interaural delay of %s", cmd.scene.headFile.c_str());
  if (cmd.scene.headScale != 1.0) std::printf(" scaled to a head %g times as large", cmd.scene.headScale);
  std::printf(" at %d Hz, %g to %g Hz\n", cmd.scene.samplingRate, cmd.band.low,
              std::min(cmd.band.high, cmd.scene.samplingRate / 2.0));
  std::printf("%10s %12s\n", "azimuth", "delay (us)");
  std::vector<double> azimuths, delays;
  for (double az = -90.0; az <= 90.0; az += kMeasureStepDeg) {
    double delay = render::interauralDelay(hrtf.responses(az, 0.0), cmd.scene.samplingRate, cmd.band);
    std::printf("%10g %12.0f\n", az, delay * 1e6);
    if (az >= 0.0) {
      azimuths.push_back(az);
      delays.push_back(delay);
    }
  }
  render::HeadFit fit = render::fitHeadModels(azimuths, delays);
  std::printf("spherical head: radius %.1f cm (microphone distance %.1f cm)\n", fit.sphereRadius * 100.0,
              2.0 * fit.sphereRadius * 100.0);
  std::printf("free field: effective distance %.1f cm\n", fit.freeFieldDistance * 100.0);
  return 0;
}

scenekit::Audio audioOf(const render::Channels &channels, int rate) {
  scenekit::Audio audio;
  audio.samplingRate = rate;
  audio.channels = channels;
  return audio;
}

void writeChannels(const std::string &path, const render::Channels &channels, int rate) {
  scenekit::Audio audio;
  audio.samplingRate = rate;
  audio.channels = channels;
  size_t clipped = scenekit::writeWav16(path, audio);
  if (clipped)
    std::cerr << "kolv-render-scene: warning: " << clipped << " sample(s) of " << path
              << " clipped; lower --peak\n";
}

int renderAndWrite(const Command &cmd) {
  render::RenderedScene scene = render::renderScene(cmd.scene);
  std::filesystem::create_directories(cmd.out);
  const std::string dir = cmd.out + "/";

  scenekit::Truth truth;
  truth.samplingRate = scene.samplingRate;
  truth.duration = scene.duration;
  truth.snrDb = cmd.scene.noise ? cmd.scene.snrDb : std::nan("");
  truth.seed = cmd.scene.seed;
  truth.scale = scene.scale;
  truth.hrtf = cmd.scene.headFile;
  truth.headScale = cmd.scene.headScale;
  truth.mixture = "scene.wav";
  writeChannels(dir + truth.mixture, scene.mixture, scene.samplingRate);
  for (size_t i = 0; i < scene.images.size(); ++i) {
    const render::SourceSpec &layout = cmd.scene.sources[i];
    scenekit::TruthSource source;
    source.file = layout.file;
    source.image = "source" + std::to_string(i + 1) + ".wav";
    source.azimuth = layout.azimuth;
    source.elevation = layout.elevation;
    source.start = static_cast<double>(render::sampleAt(layout.start, scene.samplingRate)) / scene.samplingRate;
    source.gainDb = layout.gainDb;
    source.active = scene.active[i];
    writeChannels(dir + source.image, scene.images[i], scene.samplingRate);
    if (!layout.path.empty()) {
      source.azimuth = render::azimuthAt(layout, source.start);
      for (const render::PathPoint &p : layout.path) source.path.push_back({p.time, p.azimuth});
      source.frame = kTruthFrame;
      const size_t frames = static_cast<size_t>(std::ceil(scene.duration / kTruthFrame - 1e-9));
      for (size_t f = 0; f < frames; ++f) source.azimuths.push_back(render::azimuthAt(layout, f * kTruthFrame));
    }
    if (scene.room) {
      const std::string stem = "source" + std::to_string(i + 1);
      source.distance = layout.distance;
      source.earlyImage = stem + ".early.wav";
      source.response = stem + ".brir.wav";
      source.rt60Measured = scene.room->rt60[i];
      source.directToReverberantDb = scene.room->directToReverberantDb[i];
      writeChannels(dir + source.earlyImage, scene.room->earlyImages[i], scene.samplingRate);
      scenekit::writeWavFloat(dir + source.response, audioOf(scene.room->responses[i], scene.samplingRate));
      truth.room.rt60Measured += source.rt60Measured / static_cast<double>(scene.images.size());
    }
    truth.sources.push_back(source);
  }
  if (scene.room) {
    const render::RoomLayout &room = *cmd.scene.room;
    truth.inRoom = true;
    const double size[3] = {room.size.x, room.size.y, room.size.z}, head[3] = {room.head.x, room.head.y, room.head.z};
    std::copy(size, size + 3, truth.room.size);
    std::copy(head, head + 3, truth.room.head);
    truth.room.facing = room.facing;
    truth.room.rt60Requested = room.rt60;
    truth.room.absorption = scene.room->absorption;
  }
  if (cmd.noiseImage) {
    truth.noiseImage = "noise.wav";
    writeChannels(dir + truth.noiseImage, scene.noise, scene.samplingRate);
  }
  std::ofstream json(dir + "truth.json");
  json << scenekit::truthToJson(truth);
  if (!json) throw std::runtime_error("cannot write " + dir + "truth.json");

  std::vector<scenekit::Stretch> speech = scenekit::speechStretches(truth);
  std::printf("wrote %sscene.wav (%.2f s, %d Hz), %zu source image(s)%s%s and %struth.json\n", dir.c_str(),
              scene.duration, scene.samplingRate, scene.images.size(), scene.room ? " with their responses" : "",
              cmd.noiseImage ? ", noise.wav" : "", dir.c_str());
  if (cmd.scene.noise)
    std::printf("SNR %.2f dB over %zu active stretch(es); common scale %.4g\n",
                render::measureSnrDb(scene.images, scene.noise, speech, scene.samplingRate), speech.size(),
                scene.scale);
  else
    std::printf("no noise; common scale %.4g\n", scene.scale);
  if (scene.room) {
    std::printf("room %g x %g x %g m, wall absorption %.3f: RT60 %.3g s asked, %.3g s measured (Schroeder T30)\n",
                truth.room.size[0], truth.room.size[1], truth.room.size[2], truth.room.absorption,
                truth.room.rt60Requested, truth.room.rt60Measured);
    for (size_t i = 0; i < truth.sources.size(); ++i)
      std::printf("source %zu at %g m: direct-to-reverberant ratio %.1f dB\n", i + 1, truth.sources[i].distance,
                  truth.sources[i].directToReverberantDb);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  Command cmd;
  try {
    cmd = parse(argc, argv);
  } catch (const UsageError &e) {
    std::cerr << "kolv-render-scene: " << e.what() << "\n\n" << usage();
    return kExitBadInput;
  }
  try {
    return cmd.measure ? measure(cmd) : renderAndWrite(cmd);
  } catch (const std::filesystem::filesystem_error &e) {
    std::cerr << "kolv-render-scene: " << e.what() << "\n";
    return kExitWriteFailed;
  } catch (const std::exception &e) {
    std::cerr << "kolv-render-scene: " << e.what() << "\n";
    return kExitBadInput;
  }
}
