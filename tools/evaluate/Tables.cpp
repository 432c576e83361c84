#include "Tables.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace evaluate {

namespace {

constexpr const char *kSourceHeader = "frame,time,id,azimuth,power";
constexpr const char *kSpeechHeader = "frame,time,speech";

std::vector<std::string> fields(const std::string &line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) out.push_back(field);
  return out;
}

double parseNumber(const std::string &text, const std::string &where) {
  char *end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v))
    throw std::runtime_error(where + ": '" + text + "' is not a number");
  return v;
}

int parseInt(const std::string &text, const std::string &where) {
  double v = parseNumber(text, where);
  if (v != static_cast<int>(v)) throw std::runtime_error(where + ": '" + text + "' is not a whole number");
  return static_cast<int>(v);
}

// Calls `row(fields, where)` for every data line after checking the header.
template <typename RowFn>
void readTable(const std::string &path, const std::string &header, size_t columns, RowFn row) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string line;
  if (!std::getline(in, line) || (line != header && line != header + "\r"))
    throw std::runtime_error(path + ": the first line must be the header " + header);
  for (int number = 2; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = path + ", line " + std::to_string(number);
    std::vector<std::string> f = fields(line);
    if (f.size() != columns)
      throw std::runtime_error(where + ": " + std::to_string(f.size()) + " fields, expected " + std::to_string(columns));
    row(f, where);
  }
}

}  // namespace

std::vector<TrackedSource> readSourceTable(const std::string &path) {
  std::vector<TrackedSource> rows;
  readTable(path, kSourceHeader, 5, [&](const std::vector<std::string> &f, const std::string &where) {
    rows.push_back({parseInt(f[0], where), parseInt(f[2], where), parseNumber(f[3], where)});
  });
  return rows;
}

std::vector<SpeechDecision> readSpeechTable(const std::string &path) {
  std::vector<SpeechDecision> rows;
  readTable(path, kSpeechHeader, 3, [&](const std::vector<std::string> &f, const std::string &where) {
    int speech = parseInt(f[2], where);
    if (speech != 0 && speech != 1) throw std::runtime_error(where + ": speech must be 0 or 1");
    rows.push_back({parseInt(f[0], where), speech == 1});
  });
  return rows;
}

double frameTime(int frame, int advance, int samplingRate) {
  return static_cast<double>(frame) * advance / samplingRate;
}

}  // namespace evaluate
