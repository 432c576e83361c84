// Frame-wise speech decisions against the truth's active stretches: a frame
// is speech when its first sample's time lies in a stretch of any source.
#ifndef KOLV_EVALUATE_SPEECHMETRICS_H
#define KOLV_EVALUATE_SPEECHMETRICS_H

#include <vector>

#include "Tables.h"
#include "Truth.h"

namespace evaluate {

struct SpeechScore {
  int frames = 0;
  int speechFrames = 0;      // by the truth
  int hits = 0;              // speech frames decided as speech
  int falseAlarms = 0;       // non-speech frames decided as speech
  double accuracy = 0.0;     // share of frames decided right
  double hitRate = 0.0;      // hits / speech frames (0 when there are none)
  double falseAlarmRate = 0.0;  // false alarms / non-speech frames (0 when there are none)
};

SpeechScore scoreSpeech(const std::vector<SpeechDecision> &decisions, const std::vector<scenekit::Stretch> &speech,
                        int advance, int samplingRate);

}  // namespace evaluate

#endif
