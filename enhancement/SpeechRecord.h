// What both voice activity detectors hand on for a speech frame: one source
// record that marks the frame and measures nothing.
#ifndef KOLV_ENHANCEMENT_SPEECH_RECORD_H
#define KOLV_ENHANCEMENT_SPEECH_RECORD_H

#include "Object.h"

namespace enhancement {

constexpr int kSpeechSourceId = 777;

// A Source with id 777, power 1, x = (1, 0, 0).
KOLV::ObjectRef speechRecord();

}  // namespace enhancement

#endif
