// The CSV tables kolv writes: tracked directions (SourceTable) and speech
// decisions (SpeechTable).
#ifndef KOLV_EVALUATE_TABLES_H
#define KOLV_EVALUATE_TABLES_H

#include <string>
#include <vector>

namespace evaluate {

struct TrackedSource {
  int frame;
  int id;
  double azimuth;  // degrees
};

struct SpeechDecision {
  int frame;
  bool speech;
};

// Throw std::runtime_error naming the file and line of a bad header or row.
std::vector<TrackedSource> readSourceTable(const std::string &path);
std::vector<SpeechDecision> readSpeechTable(const std::string &path);

// Time of the first sample of a frame, in seconds.
double frameTime(int frame, int advance, int samplingRate);

}  // namespace evaluate

#endif
