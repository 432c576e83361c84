#include "SpeechMetrics.h"

namespace evaluate {

SpeechScore scoreSpeech(const std::vector<SpeechDecision> &decisions, const std::vector<scenekit::Stretch> &speech,
                        int advance, int samplingRate) {
  SpeechScore score;
  int correct = 0;
  for (const SpeechDecision &d : decisions) {
    bool truth = scenekit::isWithin(speech, frameTime(d.frame, advance, samplingRate));
    ++score.frames;
    if (truth) ++score.speechFrames;
    if (truth && d.speech) ++score.hits;
    if (!truth && d.speech) ++score.falseAlarms;
    if (truth == d.speech) ++correct;
  }
  const int nonSpeech = score.frames - score.speechFrames;
  if (score.frames) score.accuracy = static_cast<double>(correct) / score.frames;
  if (score.speechFrames) score.hitRate = static_cast<double>(score.hits) / score.speechFrames;
  if (nonSpeech) score.falseAlarmRate = static_cast<double>(score.falseAlarms) / nonSpeech;
  return score;
}

}  // namespace evaluate
