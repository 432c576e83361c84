#include "Truth.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace scenekit {

namespace {

// The shortest decimal form that reads back as the same double.
std::string number(double v) {
  char text[32];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    if (std::strtod(text, nullptr) == v) break;
  }
  return text;
}

std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string stretchesJson(const std::vector<Stretch> &stretches) {
  std::string out = "[";
  for (size_t i = 0; i < stretches.size(); ++i) {
    if (i) out += ", ";
    out += "[" + number(stretches[i].start) + ", " + number(stretches[i].end) + "]";
  }
  return out + "]";
}

template <typename T>
T field(const YAML::Node &node, const char *name, const std::string &path) {
  const YAML::Node value = node[name];
  if (!value) throw std::runtime_error("truth file " + path + ": missing field \"" + name + "\"");
  try {
    return value.as<T>();
  } catch (const YAML::Exception &) {
    throw std::runtime_error("truth file " + path + ": field \"" + name + "\" has the wrong type");
  }
}

}  // namespace

std::string truthToJson(const Truth &truth) {
  std::ostringstream json;
  json << "{\n"
       << "  \"sampling_rate\": " << truth.samplingRate << ",\n"
       << "  \"duration\": " << number(truth.duration) << ",\n"
       << "  \"snr_db\": " << number(truth.snrDb) << ",\n"
       << "  \"seed\": " << truth.seed << ",\n"
       << "  \"scale\": " << number(truth.scale) << ",\n"
       << "  \"hrtf\": " << quoted(truth.hrtf) << ",\n"
       << "  \"mixture\": " << quoted(truth.mixture) << ",\n"
       << "  \"noise_image\": " << (truth.noiseImage.empty() ? "null" : quoted(truth.noiseImage)) << ",\n"
       << "  \"sources\": [";
  for (size_t i = 0; i < truth.sources.size(); ++i) {
    const TruthSource &s = truth.sources[i];
    json << (i ? ",\n" : "\n") << "    {\n"
         << "      \"file\": " << quoted(s.file) << ",\n"
         << "      \"image\": " << quoted(s.image) << ",\n"
         << "      \"azimuth\": " << number(s.azimuth) << ",\n"
         << "      \"elevation\": " << number(s.elevation) << ",\n"
         << "      \"start\": " << number(s.start) << ",\n"
         << "      \"gain_db\": " << number(s.gainDb) << ",\n"
         << "      \"active\": " << stretchesJson(s.active) << "\n"
         << "    }";
  }
  json << "\n  ]\n}\n";
  return json.str();
}

Truth readTruth(const std::string &path) {
  YAML::Node root;
  try {
    root = YAML::LoadFile(path);
  } catch (const YAML::BadFile &) {
    throw std::runtime_error("cannot read truth file " + path);
  } catch (const YAML::Exception &e) {
    throw std::runtime_error("truth file " + path + " does not parse: " + e.what());
  }
  Truth truth;
  truth.samplingRate = field<int>(root, "sampling_rate", path);
  truth.duration = field<double>(root, "duration", path);
  truth.snrDb = field<double>(root, "snr_db", path);
  truth.seed = field<unsigned long>(root, "seed", path);
  truth.scale = field<double>(root, "scale", path);
  truth.hrtf = field<std::string>(root, "hrtf", path);
  truth.mixture = field<std::string>(root, "mixture", path);
  if (root["noise_image"] && !root["noise_image"].IsNull())
    truth.noiseImage = field<std::string>(root, "noise_image", path);
  const YAML::Node sources = root["sources"];
  if (!sources || !sources.IsSequence())
    throw std::runtime_error("truth file " + path + ": missing list \"sources\"");
  for (const YAML::Node &node : sources) {
    TruthSource s;
    s.file = field<std::string>(node, "file", path);
    s.image = field<std::string>(node, "image", path);
    s.azimuth = field<double>(node, "azimuth", path);
    s.elevation = field<double>(node, "elevation", path);
    s.start = field<double>(node, "start", path);
    s.gainDb = field<double>(node, "gain_db", path);
    for (const auto &pair : field<std::vector<std::vector<double>>>(node, "active", path)) {
      if (pair.size() != 2 || pair[1] < pair[0])
        throw std::runtime_error("truth file " + path + ": an active stretch is not [start, end]");
      s.active.push_back({pair[0], pair[1]});
    }
    truth.sources.push_back(s);
  }
  return truth;
}

std::string folderOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::vector<Stretch> speechStretches(const Truth &truth) {
  std::vector<Stretch> all;
  for (const TruthSource &s : truth.sources) all.insert(all.end(), s.active.begin(), s.active.end());
  std::sort(all.begin(), all.end(), [](const Stretch &a, const Stretch &b) { return a.start < b.start; });
  std::vector<Stretch> merged;
  for (const Stretch &s : all) {
    if (!merged.empty() && s.start <= merged.back().end)
      merged.back().end = std::max(merged.back().end, s.end);
    else
      merged.push_back(s);
  }
  return merged;
}

bool isWithin(const std::vector<Stretch> &stretches, double t) {
  for (const Stretch &s : stretches)
    if (t >= s.start && t < s.end) return true;
  return false;
}

}  // namespace scenekit
