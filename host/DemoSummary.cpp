#include "DemoSummary.h"

#include <sndfile.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

namespace KOLV::host {

namespace fs = std::filesystem;

namespace {

// Rows within this many degrees of a direction belong to it.
constexpr int kDirectionSpread = 10;
// Directions reported in fewer frames than this share are not listed.
constexpr double kMinimumShare = 0.05;

// The columns of every data row of a CSV file with a header line.
std::vector<std::vector<std::string>> csvRows(const fs::path &file) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> columns;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ',')) columns.push_back(field);
    rows.push_back(columns);
  }
  return rows;
}

std::string signedDegrees(double azimuth) {
  std::ostringstream text;
  text << std::showpos << std::fixed << std::setprecision(0) << azimuth << " deg";
  return text.str();
}

struct TruthTalker {
  double azimuth;
  double activeSeconds;
  std::vector<std::pair<double, double>> active;  // stretches, s
  fs::path image;                                 // at both ears
};

struct Sound {
  int rate = 0;                              // Hz; 0 when the file cannot be read
  std::vector<std::vector<float>> channels;  // [channel][sample]
};

// The channels of a WAV file and its rate.
Sound readSound(const fs::path &file) {
  SF_INFO info{};
  SNDFILE *in = sf_open(file.string().c_str(), SFM_READ, &info);
  if (!in) return {};
  std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_float(in, interleaved.data(), info.frames);
  sf_close(in);
  std::vector<std::vector<float>> channels(info.channels,
                                           std::vector<float>(static_cast<size_t>(info.frames)));
  for (size_t n = 0; n < static_cast<size_t>(info.frames); ++n)
    for (int c = 0; c < info.channels; ++c) channels[c][n] = interleaved[n * info.channels + c];
  return {info.samplerate, std::move(channels)};
}

// The energy of `image` in `output` over [from, to): the squared projection.
double projectedEnergy(const std::vector<float> &output, const std::vector<float> &image,
                       size_t from, size_t to) {
  double cross = 0.0, own = 0.0;
  for (size_t n = from; n < to && n < output.size() && n < image.size(); ++n) {
    cross += static_cast<double>(output[n]) * image[n];
    own += static_cast<double>(image[n]) * image[n];
  }
  return own > 0.0 ? cross * cross / own : 0.0;
}

std::vector<TruthTalker> truthTalkers(const fs::path &truthFile, double &speechSeconds,
                                      double &duration) {
  std::vector<TruthTalker> talkers;
  YAML::Node truth = YAML::LoadFile(truthFile.string());
  duration = truth["duration"].as<double>();
  // The time during which at least one talker speaks, on a 10 ms grid.
  constexpr double kGrid = 0.01;
  std::vector<bool> speaking(static_cast<size_t>(duration / kGrid) + 1, false);
  for (const YAML::Node &source : truth["sources"]) {
    double active = 0.0;
    for (const YAML::Node &stretch : source["active"]) {
      double from = stretch[0].as<double>(), to = stretch[1].as<double>();
      active += to - from;
      for (size_t i = static_cast<size_t>(from / kGrid);
           i < speaking.size() && i * kGrid < to; ++i)
        speaking[i] = true;
    }
    std::vector<std::pair<double, double>> stretches;
    for (const YAML::Node &stretch : source["active"])
      stretches.push_back({stretch[0].as<double>(), stretch[1].as<double>()});
    const fs::path image = source["image"] ? truthFile.parent_path() / source["image"].as<std::string>()
                                           : fs::path();
    talkers.push_back({source["azimuth"].as<double>(), active, stretches, image});
  }
  speechSeconds = kGrid * static_cast<double>(std::count(speaking.begin(), speaking.end(), true));
  return talkers;
}

// A separation's outputs in `folder`: pairs NAME-1.wav, NAME-2.wav.
std::vector<std::string> separationOutputs(const fs::path &folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
    const std::string file = entry.path().filename().string();
    const std::string suffix = "-1.wav";
    if (file.size() <= suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix))
      continue;
    const std::string name = file.substr(0, file.size() - suffix.size());
    if (fs::exists(folder / (name + "-2.wav"), error)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The directions a tracked table holds and how near each talker they lie.
void printDirections(std::ostream &out, const std::string &label,
                     const std::vector<TrackedDirection> &directions,
                     const std::vector<TruthTalker> &talkers) {
  out << "  " << label << ":";
  if (directions.empty()) out << " none";
  for (const TrackedDirection &d : directions)
    out << "  " << signedDegrees(d.azimuth) << " (" << std::setprecision(0) << 100.0 * d.share
        << " % of the frames)";
  out << '\n';
  for (const TruthTalker &talker : talkers) {
    out << "    talker at " << signedDegrees(talker.azimuth) << " (speaks "
        << std::setprecision(1) << talker.activeSeconds << " s): ";
    auto nearest = std::min_element(directions.begin(), directions.end(),
                                    [&](const TrackedDirection &a, const TrackedDirection &b) {
                                      return std::abs(a.azimuth - talker.azimuth) <
                                             std::abs(b.azimuth - talker.azimuth);
                                    });
    if (nearest == directions.end())
      out << "not tracked\n";
    else
      out << "tracked at " << signedDegrees(nearest->azimuth) << ", " << std::setprecision(0)
          << std::abs(nearest->azimuth - talker.azimuth) << " deg off\n";
  }
}

}  // namespace

int TalkerOnOutputs::outputChanges() const {
  int changes = 0;
  for (size_t w = 1; w < held.size(); ++w) changes += held[w] != held[w - 1];
  return changes;
}

std::vector<TalkerOnOutputs> talkersOnOutputs(
    const std::vector<fs::path> &outputs, const std::vector<fs::path> &images,
    const std::vector<std::vector<std::pair<double, double>>> &active,
    const std::vector<double> &azimuths) {
  constexpr double kWindow = 1.0;  // s
  // Windows with less of a talker than this share are not judged.
  constexpr double kActiveShare = 0.5;
  std::vector<std::vector<float>> separated;
  int rate = 0;
  for (const fs::path &file : outputs) {
    Sound output = readSound(file);
    if (output.channels.empty()) return {};
    rate = output.rate;
    separated.push_back(std::move(output.channels[0]));
  }
  std::vector<TalkerOnOutputs> result;
  for (size_t t = 0; t < images.size(); ++t) {
    const auto image = readSound(images[t]).channels;
    if (image.size() < outputs.size() || rate == 0) return {};
    TalkerOnOutputs talker{azimuths[t], {}};
    const size_t window = static_cast<size_t>(kWindow * rate);
    for (size_t from = 0; from + window <= separated[0].size(); from += window) {
      const double start = static_cast<double>(from) / rate, end = start + kWindow;
      double speaking = 0.0;
      for (const auto &[a, b] : active[t]) speaking += std::max(0.0, std::min(b, end) - std::max(a, start));
      if (speaking < kActiveShare * kWindow) continue;
      std::vector<double> energy;
      for (size_t o = 0; o < separated.size(); ++o)
        energy.push_back(projectedEnergy(separated[o], image[o], from, from + window));
      talker.held.push_back(static_cast<int>(std::max_element(energy.begin(), energy.end()) -
                                             energy.begin()));
    }
    result.push_back(talker);
  }
  return result;
}

std::vector<TrackedDirection> dominantDirections(const fs::path &trackedTable, int frames) {
  std::map<int, std::vector<int>> framesAt;  // azimuth -> frames reporting it
  for (const auto &row : csvRows(trackedTable)) {
    if (row.size() < 4) continue;
    int azimuth = static_cast<int>(std::lround(std::stod(row[3])));
    framesAt[azimuth].push_back(std::stoi(row[0]));
  }
  std::vector<TrackedDirection> directions;
  while (!framesAt.empty() && frames > 0) {
    auto mode = std::max_element(framesAt.begin(), framesAt.end(), [](auto &a, auto &b) {
      return a.second.size() < b.second.size();
    });
    int centre = mode->first;
    std::vector<int> taken;
    for (auto it = framesAt.lower_bound(centre - kDirectionSpread);
         it != framesAt.end() && it->first <= centre + kDirectionSpread;) {
      taken.insert(taken.end(), it->second.begin(), it->second.end());
      it = framesAt.erase(it);
    }
    std::sort(taken.begin(), taken.end());
    taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
    double share = static_cast<double>(taken.size()) / frames;
    if (share < kMinimumShare) break;
    directions.push_back({centre, share});
  }
  return directions;
}

double speechShare(const fs::path &speechTable) {
  auto rows = csvRows(speechTable);
  if (rows.empty()) return 0.0;
  long speech = std::count_if(rows.begin(), rows.end(),
                              [](const auto &row) { return row.size() > 2 && row[2] == "1"; });
  return static_cast<double>(speech) / static_cast<double>(rows.size());
}

void printDemoSummary(std::ostream &out, const fs::path &outputFolder, const fs::path &truthFile,
                      int frames, double seconds) {
  const fs::path tracked = outputFolder / "tracked.csv";
  const fs::path robustTracked = outputFolder / "robust-tracked.csv";
  const fs::path speech = outputFolder / "speech.csv";
  const fs::path adaptiveSpeech = outputFolder / "speech-adaptive.csv";
  out << "\nSummary of " << std::fixed << std::setprecision(1) << seconds
      << " s of audio:\n";
  double truthSpeech = 0.0, duration = 0.0;
  std::vector<TruthTalker> talkers;
  if (!truthFile.empty() && fs::exists(truthFile))
    talkers = truthTalkers(truthFile, truthSpeech, duration);
  for (const auto &[table, label] : {std::pair{tracked, "tracked directions"},
                                     std::pair{robustTracked, "robust-tracked directions"}}) {
    if (fs::exists(table)) printDirections(out, label, dominantDirections(table, frames), talkers);
  }
  std::vector<fs::path> images;
  std::vector<std::vector<std::pair<double, double>>> active;
  std::vector<double> azimuths;
  for (const TruthTalker &talker : talkers) {
    images.push_back(talker.image);
    active.push_back(talker.active);
    azimuths.push_back(talker.azimuth);
  }
  for (const std::string &name : talkers.size() == 2 ? separationOutputs(outputFolder)
                                                      : std::vector<std::string>()) {
    const auto held = talkersOnOutputs({outputFolder / (name + "-1.wav"), outputFolder / (name + "-2.wav")},
                                       images, active, azimuths);
    if (held.empty()) continue;
    out << "  " << name << "-1/-2.wav:";
    for (size_t t = 0; t < held.size(); ++t) {
      const TalkerOnOutputs &talker = held[t];
      out << (t ? ", talker at " : " talker at ") << signedDegrees(talker.azimuth);
      if (talker.held.empty())
        out << " not judged";
      else if (talker.kept())
        out << " kept on output " << talker.held.front() + 1;
      else
        out << " changes output " << talker.outputChanges() << " times";
    }
    out << '\n';
  }
  if (fs::exists(speech)) {
    out << "  speech detected in " << std::setprecision(0) << 100.0 * speechShare(speech)
        << " % of the frames";
    if (fs::exists(adaptiveSpeech))
      out << " (on the tracked noise: " << 100.0 * speechShare(adaptiveSpeech) << " %)";
    if (duration > 0.0)
      out << "; someone speaks " << 100.0 * truthSpeech / duration << " % of the time";
    out << '\n';
  }
  out << "  results in " << outputFolder.string() << "/\n";
}

}  // namespace KOLV::host
