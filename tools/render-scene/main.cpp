// kolv-render-scene: renders a binaural scene for kolv from mono recordings,
// or measures the interaural delays of a head (--measure).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
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

std::string usage() {
  return std::string() +
    "usage: kolv-render-scene --out DIR [options] --source FILE --azimuth DEG [source options] ...\n"
    "       kolv-render-scene --measure [--sofa FILE] [--rate HZ] [--band LOW HIGH]\n"
    "\n"
    "Places mono recordings around a measured head, adds diffuse noise and writes\n"
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
    "  --noise-image    also write DIR/noise.wav, the noise at both ears\n"
    "source options, for the --source before them:\n"
    "  --azimuth DEG    -180 to 180, required\n"
    "  --elevation DEG  (0)\n"
    "  --start S        where the recording begins in the scene (0)\n"
    "  --gain DB        (0)\n";
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

struct Command {
  bool measure = false;
  bool noiseImage = false;
  std::string out;
  render::Band band = kWholeBand;
  render::SceneLayout scene;
  std::vector<bool> hasAzimuth;
};

Command parse(int argc, char **argv) {
  Command cmd;
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
    } else if (opt == "--sofa") {
      cmd.scene.sofa = value(i);
    } else if (opt == "--noise-image") {
      cmd.noiseImage = true;
    } else if (opt == "--source") {
      cmd.scene.sources.push_back({});
      cmd.scene.sources.back().file = value(i);
      cmd.hasAzimuth.push_back(false);
    } else if (opt == "--azimuth") {
      currentSource(opt).azimuth = number(opt, value(i));
      cmd.hasAzimuth.back() = true;
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
      throw UsageError("source " + std::to_string(i + 1) + " (" + cmd.scene.sources[i].file + ") has no --azimuth");
  return cmd;
}

int measure(const Command &cmd) {
  render::HrtfSet hrtf(cmd.scene.sofa, cmd.scene.samplingRate);
  std::printf("interaural delay of %s at %d Hz, %g to %g Hz\n", cmd.scene.sofa.c_str(), cmd.scene.samplingRate,
              cmd.band.low, std::min(cmd.band.high, cmd.scene.samplingRate / 2.0));
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
  truth.snrDb = cmd.scene.snrDb;
  truth.seed = cmd.scene.seed;
  truth.scale = scene.scale;
  truth.hrtf = cmd.scene.sofa;
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
    truth.sources.push_back(source);
  }
  if (cmd.noiseImage) {
    truth.noiseImage = "noise.wav";
    writeChannels(dir + truth.noiseImage, scene.noise, scene.samplingRate);
  }
  std::ofstream json(dir + "truth.json");
  json << scenekit::truthToJson(truth);
  if (!json) throw std::runtime_error("cannot write " + dir + "truth.json");

  std::vector<scenekit::Stretch> speech = scenekit::speechStretches(truth);
  std::printf("wrote %sscene.wav (%.2f s, %d Hz), %zu source image(s)%s and %struth.json\n", dir.c_str(),
              scene.duration, scene.samplingRate, scene.images.size(), cmd.noiseImage ? ", noise.wav" : "",
              dir.c_str());
  std::printf("SNR %.2f dB over %zu active stretch(es); common scale %.4g\n",
              render::measureSnrDb(scene.images, scene.noise, speech, scene.samplingRate), speech.size(),
              scene.scale);
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
