#include "Truth.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
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

std::string triple(const double v[3]) { return "[" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + "]"; }

std::string numbersJson(const std::vector<double> &values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + number(values[i]);
  return out + "]";
}

std::string pathJson(const std::vector<std::pair<double, double>> &path) {
  std::string out = "[";
  for (size_t i = 0; i < path.size(); ++i)
    out += (i ? ", [" : "[") + number(path[i].first) + ", " + number(path[i].second) + "]";
  return out + "]";
}

std::string roomJson(const TruthRoom &room) {
  return "{\n"
         "    \"size\": " + triple(room.size) + ",\n"
         "    \"head\": " + triple(room.head) + ",\n"
         "    \"facing\": " + number(room.facing) + ",\n"
         "    \"rt60_requested\": " + number(room.rt60Requested) + ",\n"
         "    \"rt60_measured\": " + number(room.rt60Measured) + ",\n"
         "    \"rt60_method\": \"Schroeder T30\",\n"
         "    \"absorption\": " + number(room.absorption) + "\n"
         "  }";
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
       << "  \"snr_db\": " << (std::isnan(truth.snrDb) ? "null" : number(truth.snrDb)) << ",\n"
       << "  \"seed\": " << truth.seed << ",\n"
       << "  \"scale\": " << number(truth.scale) << ",\n"
       << "  \"hrtf\": " << quoted(truth.hrtf) << ",\n"
       << "  \"head_scale\": " << number(truth.headScale) << ",\n"
       << "  \"mixture\": " << quoted(truth.mixture) << ",\n"
       << "  \"noise_image\": " << (truth.noiseImage.empty() ? "null" : quoted(truth.noiseImage)) << ",\n";
  if (truth.inRoom) json << "  \"room\": " << roomJson(truth.room) << ",\n";
  json << "  \"sources\": [";
  for (size_t i = 0; i < truth.sources.size(); ++i) {
    const TruthSource &s = truth.sources[i];
    json << (i ? ",\n" : "\n") << "    {\n"
         << "      \"file\": " << quoted(s.file) << ",\n"
         << "      \"image\": " << quoted(s.image) << ",\n"
         << "      \"azimuth\": " << number(s.azimuth) << ",\n"
         << "      \"elevation\": " << number(s.elevation) << ",\n"
         << "      \"start\": " << number(s.start) << ",\n"
         << "      \"gain_db\": " << number(s.gainDb) << ",\n"
         << "      \"active\": " << stretchesJson(s.active);
    if (!s.path.empty())
      json << ",\n      \"path\": " << pathJson(s.path) << ",\n"
           << "      \"frame\": " << number(s.frame) << ",\n"
           << "      \"azimuths\": " << numbersJson(s.azimuths);
    if (truth.inRoom)
      json << ",\n      \"distance\": " << number(s.distance) << ",\n"
           << "      \"early_image\": " << quoted(s.earlyImage) << ",\n"
           << "      \"response\": " << quoted(s.response) << ",\n"
           << "      \"rt60_measured\": " << number(s.rt60Measured) << ",\n"
           << "      \"drr_db\": " << number(s.directToReverberantDb);
    json << "\n    }";
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
  truth.snrDb = root["snr_db"] && root["snr_db"].IsNull() ? std::nan("") : field<double>(root, "snr_db", path);
  truth.seed = field<unsigned long>(root, "seed", path);
  truth.scale = field<double>(root, "scale", path);
  truth.hrtf = field<std::string>(root, "hrtf", path);
  if (root["head_scale"]) truth.headScale = field<double>(root, "head_scale", path);
  truth.mixture = field<std::string>(root, "mixture", path);
  if (root["noise_image"] && !root["noise_image"].IsNull())
    truth.noiseImage = field<std::string>(root, "noise_image", path);
  if (const YAML::Node room = root["room"]) {
    truth.inRoom = true;
    const auto size = field<std::vector<double>>(room, "size", path);
    const auto head = field<std::vector<double>>(room, "head", path);
    if (size.size() != 3 || head.size() != 3)
      throw std::runtime_error("truth file " + path + ": the room's size and head need three figures each");
    for (int i = 0; i < 3; ++i) {
      truth.room.size[i] = size[i];
      truth.room.head[i] = head[i];
    }
    truth.room.facing = field<double>(room, "facing", path);
    truth.room.rt60Requested = field<double>(room, "rt60_requested", path);
    truth.room.rt60Measured = field<double>(room, "rt60_measured", path);
    truth.room.absorption = field<double>(room, "absorption", path);
  }
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
    if (node["path"]) {
      for (const auto &point : field<std::vector<std::vector<double>>>(node, "path", path)) {
        if (point.size() != 2) throw std::runtime_error("truth file " + path + ": a path point is not [time, azimuth]");
        s.path.push_back({point[0], point[1]});
      }
      s.frame = field<double>(node, "frame", path);
      s.azimuths = field<std::vector<double>>(node, "azimuths", path);
    }
    if (truth.inRoom) {
      s.distance = field<double>(node, "distance", path);
      s.earlyImage = field<std::string>(node, "early_image", path);
      s.response = field<std::string>(node, "response", path);
      s.rt60Measured = field<double>(node, "rt60_measured", path);
      s.directToReverberantDb = field<double>(node, "drr_db", path);
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
