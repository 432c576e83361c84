// kolv-evaluate: compares the files a kolv run wrote with the truth of the
// rendered scene it ran on, and prints the figures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "AudioMetrics.h"
#include "SpeechMetrics.h"
#include "Tables.h"
#include "TrackingMetrics.h"
#include "Truth.h"
#include "WavFile.h"

namespace {

constexpr int kExitBadInput = 2;
constexpr int kDefaultAdvance = 160;
constexpr double kMaxDelaySeconds = 0.25;  // longest output delay searched for
// After a silent learning period, the overlap-add of the first frames still
// rises from silence: one frame of 512 samples at 16 kHz.
constexpr double kOverlapFrameSeconds = 0.032;

const char *kUsage =
    "usage: kolv-evaluate --truth truth.json [--sources SOURCES.csv] [--speech SPEECH.csv]\n"
    "                     [--enhanced ENHANCED.wav] [--separated SEPARATED.wav[,...]] [options]\n"
    "\n"
    "  --truth FILE      the scene's truth file (from kolv-render-scene)\n"
    "  --sources FILE    tracked directions (SourceTable CSV)\n"
    "  --speech FILE     speech decisions (SpeechTable CSV)\n"
    "  --enhanced FILE   enhanced audio: levels of the noise-only lead-in and of speech\n"
    "  --separated FILES separated audio: SIR and SDR against the mixture's, per block\n"
    "                    and over the whole file (against both ears' images and\n"
    "                    against the left ear's alone), and whether each talker\n"
    "                    stays on one output; one file with a channel per source,\n"
    "                    or one file per source, comma-separated\n"
    "  --advance N       samples per frame of the tables (160)\n"
    "  --delay N         samples by which the audio outputs trail the input\n"
    "                    (default: estimated by cross-correlation)\n"
    "  --skip S          leave the first S seconds out of the lead-in (default: the\n"
    "                    enhancement's silent noise-learning period and one frame)\n"
    "  --block S         figures per block of S seconds (default: the whole file only)\n"
    "  --reference R     the source images the separation and the enhancement's\n"
    "                    distortion ratio are scored against: full (sourceN.wav,\n"
    "                    default) or early (the direct path and early reflections,\n"
    "                    sourceN.early.wav; scenes in a room only)\n"
    "  --json            machine-readable figures instead of the summary\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  std::string truth, sources, speech, enhanced, separated;
  int advance = kDefaultAdvance;
  int delay = -1;  // estimate
  double skip = -1.0;  // -1: the enhancement's silent opening
  double block = 0.0;
  bool earlyReference = false;  // score separation against the direct-plus-early images
  bool json = false;
};

double number(const std::string &option, const char *text) {
  char *end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < 0.0)
    throw UsageError("option " + option + " expects a number of at least 0, not '" + text + "'");
  return v;
}

bool referenceIsEarly(const std::string &reference) {
  if (reference != "full" && reference != "early")
    throw UsageError("option --reference expects full or early, not '" + reference + "'");
  return reference == "early";
}

Options parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (opt == "--json") {
      o.json = true;
      continue;
    }
    if (i + 1 >= argc) throw UsageError("option " + opt + " needs a value");
    const char *v = argv[++i];
    if (opt == "--truth") o.truth = v;
    else if (opt == "--sources") o.sources = v;
    else if (opt == "--speech") o.speech = v;
    else if (opt == "--enhanced") o.enhanced = v;
    else if (opt == "--separated") o.separated = v;
    else if (opt == "--advance") o.advance = static_cast<int>(number(opt, v));
    else if (opt == "--delay") o.delay = static_cast<int>(number(opt, v));
    else if (opt == "--skip") o.skip = number(opt, v);
    else if (opt == "--block") o.block = number(opt, v);
    else if (opt == "--reference") o.earlyReference = referenceIsEarly(v);
    else throw UsageError("unknown option '" + opt + "'");
  }
  if (o.truth.empty()) throw UsageError("missing --truth FILE");
  if (o.advance < 1) throw UsageError("option --advance expects a positive number of samples");
  return o;
}

// A number for the JSON output: finite figures as they are, others as null.
std::string jsonNumber(double v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

scenekit::Audio readScene(const scenekit::Truth &truth, const std::string &path) {
  scenekit::Audio audio = scenekit::readWav(path);
  if (audio.samplingRate != truth.samplingRate)
    throw std::runtime_error(path + " is sampled at " + std::to_string(audio.samplingRate) + " Hz, the scene at " +
                             std::to_string(truth.samplingRate) + " Hz");
  return audio;
}

class Report {
 public:
  explicit Report(bool json) : json_(json) {}
  void section(const std::string &name, const std::string &jsonBody, const std::string &text) {
    if (json_)
      sections_ << (first_ ? "" : ",\n") << "  \"" << name << "\": " << jsonBody;
    else
      sections_ << text;
    first_ = false;
  }
  void print() const {
    if (json_)
      std::cout << "{\n" << sections_.str() << "\n}\n";
    else
      std::cout << sections_.str();
  }

 private:
  bool json_;
  bool first_ = true;
  std::ostringstream sections_;
};

void evaluateCoverage(const std::vector<evaluate::TrackedSource> &rows, const scenekit::Truth &truth,
                      const evaluate::FrameClock &clock, const Options &o, Report &report) {
  const evaluate::CoverageScore c = evaluate::scoreCoverage(rows, truth.sources, clock);
  std::ostringstream json, text;
  json << "{\"recall\": " << jsonNumber(c.recall) << ", \"mean_error\": " << jsonNumber(c.meanError)
       << ", \"false_share\": " << jsonNumber(c.falseShare) << ", \"ghost_share\": " << jsonNumber(c.ghostShare)
       << ", \"track_frames\": " << c.trackFrames
       << ", \"talkers\": [";
  char line[256];
  std::snprintf(line, sizeof line,
                "coverage within 10 deg (%s):\n  %.1f%% of the talkers' active frames, mean error %.2f deg, "
                "%.1f%% of %d track frames false, %.1f%% near no talker\n",
                o.sources.c_str(), 100.0 * c.recall, c.meanError, 100.0 * c.falseShare, c.trackFrames,
                100.0 * c.ghostShare);
  text << line;
  for (size_t i = 0; i < c.talkers.size(); ++i) {
    const evaluate::TalkerCoverage &t = c.talkers[i];
    const double recall = t.activeFrames ? static_cast<double>(t.coveredFrames) / t.activeFrames : 0.0;
    json << (i ? ", " : "") << "{\"recall\": " << jsonNumber(recall) << ", \"mean_error\": "
         << (t.coveredFrames ? jsonNumber(t.meanError) : "null") << ", \"active_frames\": " << t.activeFrames
         << ", \"id_changes\": " << t.idChanges << ", \"lasting_id_changes\": " << t.lastingIdChanges << "}";
    std::snprintf(line, sizeof line,
                  "  source %zu: %.1f%% of %d active frames, mean error %.2f deg, %d id change(s), %d lasting\n", i + 1,
                  100.0 * recall, t.activeFrames, t.meanError, t.idChanges, t.lastingIdChanges);
    text << line;
  }
  json << "]}";
  report.section("coverage", json.str(), text.str());
}

void evaluateCoverageBySecond(const std::vector<evaluate::TrackedSource> &rows, const scenekit::Truth &truth,
                              const evaluate::FrameClock &clock, Report &report) {
  const evaluate::SecondCoverageScore c = evaluate::scoreCoverageBySecond(rows, truth.sources, clock);
  std::ostringstream json;
  json << "{\"recall\": " << jsonNumber(c.recall) << ", \"mean_error\": " << jsonNumber(c.meanError)
       << ", \"false_share\": " << jsonNumber(c.falseShare) << ", \"ghost_share\": " << jsonNumber(c.ghostShare)
       << ", \"track_seconds\": " << c.trackWindows
       << ", \"talkers\": [";
  for (size_t i = 0; i < c.talkers.size(); ++i) {
    const evaluate::TalkerSeconds &t = c.talkers[i];
    const double recall = t.activeWindows ? static_cast<double>(t.coveredWindows) / t.activeWindows : 0.0;
    json << (i ? ", " : "") << "{\"recall\": " << jsonNumber(recall) << ", \"active_seconds\": " << t.activeWindows
         << "}";
  }
  json << "]}";
  char line[256];
  std::snprintf(line, sizeof line,
                "  by the second: %.1f%% of the talkers' active seconds, mean error %.2f deg, %.1f%% of %d track "
                "seconds false, %.1f%% near no talker\n",
                100.0 * c.recall, c.meanError, 100.0 * c.falseShare, c.trackWindows, 100.0 * c.ghostShare);
  report.section("coverage_by_second", json.str(), line);
}

void evaluateDirections(const Options &o, const scenekit::Truth &truth, Report &report) {
  auto rows = evaluate::readSourceTable(o.sources);
  evaluate::FrameClock clock{o.advance, truth.samplingRate,
                             evaluate::framesIn(truth.duration, o.advance, truth.samplingRate)};
  std::ostringstream json, text;
  json << "[";
  text << "directions (" << o.sources << "):\n";
  for (size_t i = 0; i < truth.sources.size(); ++i) {
    evaluate::DirectionScore s = evaluate::scoreDirection(rows, truth.sources[i], clock);
    json << (i ? ", " : "") << "{\"azimuth\": " << jsonNumber(s.truthAzimuth)
         << ", \"moving\": " << (s.moving ? "true" : "false")
         << ", \"tracked_azimuth\": " << (s.tracked ? jsonNumber(s.medianAzimuth) : "null")
         << ", \"error\": " << (s.tracked ? jsonNumber(s.error) : "null")
         << ", \"share_within_5\": " << jsonNumber(s.shareWithin) << ", \"active_frames\": " << s.activeFrames
         << ", \"tracked_frames\": " << s.trackedFrames << "}";
    char line[256];
    if (s.tracked)
      std::snprintf(line, sizeof line,
                    "  source %zu %s %+.1f deg: tracked at %+.1f (error %.1f deg), within 5 deg in %.0f%% of %d "
                    "active frames\n",
                    i + 1, s.moving ? "moving from" : "at", s.truthAzimuth, s.medianAzimuth, s.error, 100.0 * s.shareWithin, s.activeFrames);
    else
      std::snprintf(line, sizeof line, "  source %zu %s %+.1f deg: no tracked direction in its %d active frames\n",
                    i + 1, s.moving ? "moving from" : "at", s.truthAzimuth, s.activeFrames);
    text << line;
  }
  json << "]";
  report.section("directions", json.str(), text.str());
  evaluateCoverage(rows, truth, clock, o, report);
  evaluateCoverageBySecond(rows, truth, clock, report);
}

void evaluateSpeech(const Options &o, const scenekit::Truth &truth, Report &report) {
  evaluate::SpeechScore s = evaluate::scoreSpeech(evaluate::readSpeechTable(o.speech),
                                                  scenekit::speechStretches(truth), o.advance, truth.samplingRate);
  std::ostringstream json;
  json << "{\"frames\": " << s.frames << ", \"speech_frames\": " << s.speechFrames
       << ", \"accuracy\": " << jsonNumber(s.accuracy) << ", \"hit_rate\": " << jsonNumber(s.hitRate)
       << ", \"false_alarm_rate\": " << jsonNumber(s.falseAlarmRate) << "}";
  char text[256];
  std::snprintf(text, sizeof text,
                "speech decisions (%s):\n  frame accuracy %.1f%%, hit rate %.1f%%, false alarms %.1f%% "
                "(%d frames, %d of them speech)\n",
                o.speech.c_str(), 100.0 * s.accuracy, 100.0 * s.hitRate, 100.0 * s.falseAlarmRate, s.frames,
                s.speechFrames);
  report.section("speech", json.str(), text);
}

// Where the earliest recording begins in the scene (s): the end of the
// noise-only lead-in at the latest.
double firstSourceStart(const scenekit::Truth &truth) {
  double first = truth.duration;
  for (const auto &s : truth.sources) first = std::min(first, s.start);
  return first;
}

int delayOf(const Options &o, const evaluate::Channels &output, const scenekit::Audio &mixture) {
  if (o.delay >= 0) return o.delay;
  return evaluate::estimateDelay(output, mixture.channels,
                                 static_cast<int>(kMaxDelaySeconds * mixture.samplingRate));
}

const char *referenceName(const Options &o) { return o.earlyReference ? "early" : "full"; }

// The image of a source the audio outputs are scored against.
std::string referenceImage(const Options &o, const scenekit::TruthSource &source, size_t index) {
  if (!o.earlyReference) return source.image;
  if (source.earlyImage.empty())
    throw std::runtime_error("--reference early: source " + std::to_string(index + 1) + " of " + o.truth +
                             " has no direct-plus-early image (the scene is not in a room)");
  return source.earlyImage;
}

std::vector<evaluate::Channels> referenceImages(const Options &o, const scenekit::Truth &truth) {
  std::vector<evaluate::Channels> images;
  for (size_t i = 0; i < truth.sources.size(); ++i)
    images.push_back(
        readScene(truth, scenekit::folderOf(o.truth) + "/" + referenceImage(o, truth.sources[i], i)).channels);
  return images;
}

// All the talkers' reference images summed: the speech an enhancement should keep.
evaluate::Channels referenceSpeech(const Options &o, const scenekit::Truth &truth) {
  evaluate::Channels sum;
  for (const evaluate::Channels &image : referenceImages(o, truth)) {
    if (sum.empty()) sum.assign(image.size(), std::vector<double>(image.empty() ? 0 : image[0].size(), 0.0));
    for (size_t c = 0; c < sum.size() && c < image.size(); ++c)
      for (size_t n = 0; n < sum[c].size() && n < image[c].size(); ++n) sum[c][n] += image[c][n];
  }
  return sum;
}

void evaluateEnhancement(const Options &o, const scenekit::Truth &truth, const scenekit::Audio &mixture,
                         Report &report) {
  scenekit::Audio enhanced = readScene(truth, o.enhanced);
  int delay = delayOf(o, enhanced.channels, mixture);
  const evaluate::Channels output = evaluate::aligned(enhanced.channels, delay, mixture.frames());
  // A node that learns the noise first gives silence there: counting it
  // would credit the learning period as noise reduction.
  const double silent = evaluate::silentOpening(output, truth.samplingRate);
  const double skip =
      o.skip >= 0.0 ? o.skip : (silent > 0.0 ? silent + kOverlapFrameSeconds : 0.0);
  evaluate::NoiseReduction r = evaluate::measureNoiseReduction(
      mixture.channels, output, scenekit::speechStretches(truth), truth.samplingRate, skip,
      firstSourceStart(truth));
  const evaluate::Channels reference = referenceSpeech(o, truth);
  const auto speech = scenekit::speechStretches(truth);
  const double inputSdr = evaluate::scaleInvariantSdr(mixture.channels, reference, speech, truth.samplingRate);
  const double outputSdr = evaluate::scaleInvariantSdr(output, reference, speech, truth.samplingRate);
  std::ostringstream json;
  json << "{\"delay\": " << delay << ", \"lead_in\": [" << jsonNumber(r.leadIn.start) << ", "
       << jsonNumber(r.leadIn.end) << "], \"input_lead_in_db\": " << jsonNumber(r.inputLeadInDb)
       << ", \"output_lead_in_db\": " << jsonNumber(r.outputLeadInDb)
       << ", \"reduction_db\": " << jsonNumber(r.reductionDb) << ", \"input_speech_db\": " << jsonNumber(r.inputSpeechDb)
       << ", \"output_speech_db\": " << jsonNumber(r.outputSpeechDb)
       << ", \"speech_change_db\": " << jsonNumber(r.speechChangeDb) << ", \"reference\": \""
       << referenceName(o) << "\", \"input_sdr_db\": " << jsonNumber(inputSdr)
       << ", \"output_sdr_db\": " << jsonNumber(outputSdr)
       << ", \"sdr_improvement_db\": " << jsonNumber(outputSdr - inputSdr) << "}";
  char text[768];
  std::snprintf(text, sizeof text,
                "noise reduction (%s, %d samples behind the input):\n"
                "  lead-in %.2f-%.2f s: input %.1f dBFS, enhanced %.1f dBFS, %.1f dB quieter\n"
                "  speech: input %.1f dBFS, enhanced %.1f dBFS (%+.1f dB)\n"
                "  signal-to-distortion ratio against the %s images: input %.1f dB, enhanced %.1f dB\n",
                o.enhanced.c_str(), delay, r.leadIn.start, r.leadIn.end, r.inputLeadInDb, r.outputLeadInDb,
                r.reductionDb, r.inputSpeechDb, r.outputSpeechDb, r.speechChangeDb, referenceName(o), inputSdr,
                outputSdr);
  report.section("noise_reduction", json.str(), text);
}

std::string blockJson(const evaluate::BlockSir &b) {
  std::ostringstream json;
  json << "{\"start\": " << jsonNumber(b.start) << ", \"end\": " << jsonNumber(b.end) << ", \"outputs\": [";
  for (size_t out = 0; out < b.outputSir.size(); ++out)
    json << (out ? ", " : "") << "{\"source\": " << b.sourceOfOutput[out] + 1
         << ", \"sir_db\": " << jsonNumber(b.outputSir[out]) << ", \"mixture_sir_db\": " << jsonNumber(b.mixtureSir[out])
         << ", \"sdr_db\": " << jsonNumber(b.outputSdr[out]) << ", \"mixture_sdr_db\": " << jsonNumber(b.mixtureSdr[out])
         << "}";
  json << "], \"improvement_db\": " << jsonNumber(b.improvement)
       << ", \"sdr_improvement_db\": " << jsonNumber(b.sdrImprovement) << "}";
  return json.str();
}

std::string blockText(const evaluate::BlockSir &b, const std::string &label) {
  std::ostringstream text;
  text << "  " << label << ":";
  char line[160];
  for (size_t out = 0; out < b.outputSir.size(); ++out) {
    std::snprintf(line, sizeof line, " output %zu = source %d, SIR %.1f dB (mixture %.1f), SDR %.1f dB (mixture %.1f);",
                  out + 1, b.sourceOfOutput[out] + 1, b.outputSir[out], b.mixtureSir[out], b.outputSdr[out],
                  b.mixtureSdr[out]);
    text << line;
  }
  std::snprintf(line, sizeof line, " improvement SIR %.1f dB, SDR %.1f dB\n", b.improvement, b.sdrImprovement);
  text << line;
  return text.str();
}

// The talkers check: JSON array, text lines, and whether every talker stayed.
bool talkersReport(const std::vector<evaluate::TalkerOnOutput> &talkers, std::ostringstream &json,
                   std::ostringstream &text) {
  bool kept = true;
  json << "[";
  for (size_t s = 0; s < talkers.size(); ++s) {
    const auto &t = talkers[s];
    json << (s ? ", " : "") << "{\"source\": " << s + 1 << ", \"output\": " << t.output + 1
         << ", \"active_windows\": " << t.activeWindows << ", \"windows_elsewhere\": [";
    for (size_t w = 0; w < t.windowsElsewhere.size(); ++w)
      json << (w ? ", " : "") << "[" << jsonNumber(t.windowsElsewhere[w].start) << ", "
           << jsonNumber(t.windowsElsewhere[w].end) << "]";
    json << "]}";
    char line[160];
    if (t.output < 0) {
      std::snprintf(line, sizeof line, "  source %zu: no second in which it speaks\n", s + 1);
    } else {
      std::snprintf(line, sizeof line, "  source %zu: on output %d in %d of its %d active seconds%s\n", s + 1,
                    t.output + 1, t.activeWindows - static_cast<int>(t.windowsElsewhere.size()), t.activeWindows,
                    t.windowsElsewhere.empty() ? "" : " (SWAPPED in the others)");
    }
    text << line;
    kept = kept && t.windowsElsewhere.empty();
  }
  json << "]";
  return kept;
}

evaluate::Channels firstChannel(const evaluate::Channels &channels) { return {channels.at(0)}; }

std::vector<evaluate::Channels> firstChannels(const std::vector<evaluate::Channels> &images) {
  std::vector<evaluate::Channels> first;
  for (const evaluate::Channels &image : images) first.push_back(firstChannel(image));
  return first;
}

void evaluateSeparation(const Options &o, const scenekit::Truth &truth, const scenekit::Audio &mixture,
                        Report &report) {
  scenekit::Audio separated;
  std::istringstream files(o.separated);
  for (std::string file; std::getline(files, file, ',');) {
    scenekit::Audio part = readScene(truth, file);
    separated.channels.insert(separated.channels.end(), part.channels.begin(), part.channels.end());
  }
  const std::vector<evaluate::Channels> images = referenceImages(o, truth);
  std::vector<std::vector<scenekit::Stretch>> active;
  for (const auto &s : truth.sources) active.push_back(s.active);
  const int delay = delayOf(o, separated.channels, mixture);
  const evaluate::Channels output = evaluate::aligned(separated.channels, delay, mixture.frames());
  const auto blocks = evaluate::measureSeparation(
      output, mixture.channels, images, static_cast<size_t>(std::llround(o.block * truth.samplingRate)),
      truth.samplingRate);
  const auto whole = evaluate::measureSeparation(output, mixture.channels, images, 0, truth.samplingRate);
  // The same, each output scored against the sources' images at the first
  // (left) microphone alone and the mixture at that microphone.
  const auto wholeFirstEar = evaluate::measureSeparation(output, firstChannel(mixture.channels),
                                                         firstChannels(images), 0, truth.samplingRate);
  const auto talkers = evaluate::checkOutputsKeepTalkers(output, images, active, truth.samplingRate);

  std::ostringstream json, text;
  double mean = 0.0, meanSdr = 0.0;
  for (const auto &b : blocks) {
    mean += b.improvement / static_cast<double>(blocks.size());
    meanSdr += b.sdrImprovement / static_cast<double>(blocks.size());
  }
  json << "{\"delay\": " << delay << ", \"reference\": \"" << referenceName(o)
       << "\", \"mean_improvement_db\": " << (blocks.empty() ? "null" : jsonNumber(mean))
       << ", \"mean_sdr_improvement_db\": " << (blocks.empty() ? "null" : jsonNumber(meanSdr)) << ", \"blocks\": [";
  text << "separation (" << o.separated << ", " << delay << " samples behind the input"
       << (o.earlyReference ? ", against the direct-plus-early images" : "") << "):\n";
  char label[64];
  for (size_t i = 0; i < blocks.size(); ++i) {
    json << (i ? ", " : "") << blockJson(blocks[i]);
    std::snprintf(label, sizeof label, "%.2f-%.2f s", blocks[i].start, blocks[i].end);
    text << blockText(blocks[i], label);
  }
  json << "], \"whole_file\": " << (whole.empty() ? "null" : blockJson(whole[0]))
       << ", \"whole_file_left_ear\": " << (wholeFirstEar.empty() ? "null" : blockJson(wholeFirstEar[0]))
       << ", \"talkers\": ";
  if (blocks.empty())
    text << "  no block in which every source is present\n";
  else
    text << "  mean improvement over " << blocks.size() << " block(s): SIR " << jsonNumber(mean) << " dB, SDR "
         << jsonNumber(meanSdr) << " dB\n";
  if (!whole.empty()) text << blockText(whole[0], "whole file, one permutation");
  if (!wholeFirstEar.empty()) text << blockText(wholeFirstEar[0], "whole file at the left ear");
  const bool kept = talkersReport(talkers, json, text);
  json << ", \"talkers_kept\": " << (kept ? "true" : "false") << "}";
  text << (kept ? "  every talker stayed on one output\n" : "  some talker changed outputs\n");
  report.section("separation", json.str(), text.str());
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  try {
    o = parse(argc, argv);
  } catch (const UsageError &e) {
    std::cerr << "kolv-evaluate: " << e.what() << "\n\n" << kUsage;
    return kExitBadInput;
  }
  try {
    scenekit::Truth truth = scenekit::readTruth(o.truth);
    Report report(o.json);
    if (!o.sources.empty()) evaluateDirections(o, truth, report);
    if (!o.speech.empty()) evaluateSpeech(o, truth, report);
    if (!o.enhanced.empty() || !o.separated.empty()) {
      scenekit::Audio mixture = readScene(truth, scenekit::folderOf(o.truth) + "/" + truth.mixture);
      if (!o.enhanced.empty()) evaluateEnhancement(o, truth, mixture, report);
      if (!o.separated.empty()) evaluateSeparation(o, truth, mixture, report);
    }
    report.print();
    return 0;
  } catch (const std::exception &e) {
    std::cerr << "kolv-evaluate: " << e.what() << "\n";
    return kExitBadInput;
  }
}
