#include "DemoSummary.h"

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
};

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
    talkers.push_back({source["azimuth"].as<double>(), active});
  }
  speechSeconds = kGrid * static_cast<double>(std::count(speaking.begin(), speaking.end(), true));
  return talkers;
}

}  // namespace

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
  const fs::path speech = outputFolder / "speech.csv";
  out << "\nSummary of " << std::fixed << std::setprecision(1) << seconds
      << " s of audio:\n";
  std::vector<TrackedDirection> directions;
  if (fs::exists(tracked)) {
    directions = dominantDirections(tracked, frames);
    out << "  tracked directions:";
    if (directions.empty()) out << " none";
    for (const TrackedDirection &d : directions)
      out << "  " << signedDegrees(d.azimuth) << " (" << std::setprecision(0) << 100.0 * d.share
          << " % of the frames)";
    out << '\n';
  }
  double truthSpeech = 0.0, duration = 0.0;
  std::vector<TruthTalker> talkers;
  if (!truthFile.empty() && fs::exists(truthFile))
    talkers = truthTalkers(truthFile, truthSpeech, duration);
  for (const TruthTalker &talker : talkers) {
    out << "  talker at " << signedDegrees(talker.azimuth) << " (speaks "
        << std::setprecision(1) << talker.activeSeconds << " s): ";
    auto nearest = std::min_element(directions.begin(), directions.end(),
                                    [&](const TrackedDirection &a, const TrackedDirection &b) {
                                      return std::abs(a.azimuth - talker.azimuth) <
                                             std::abs(b.azimuth - talker.azimuth);
                                    });
    if (nearest == directions.end())
      out << "not tracked\n";
    else
      out << "tracked at " << signedDegrees(nearest->azimuth) << ", "
          << std::setprecision(0) << std::abs(nearest->azimuth - talker.azimuth)
          << " deg off\n";
  }
  if (fs::exists(speech)) {
    out << "  speech detected in " << std::setprecision(0) << 100.0 * speechShare(speech)
        << " % of the frames";
    if (duration > 0.0)
      out << " (someone speaks " << 100.0 * truthSpeech / duration << " % of the time)";
    out << '\n';
  }
  out << "  results in " << outputFolder.string() << "/\n";
}

}  // namespace KOLV::host
