#include "SpeechRecord.h"

#include "Source.h"

namespace enhancement {

KOLV::ObjectRef speechRecord() {
  auto *source = new KOLV::Source();
  source->x[0] = 1.0f;
  source->x[1] = 0.0f;
  source->x[2] = 0.0f;
  source->power = 1.0f;
  source->id = kSpeechSourceId;
  source->spare = 0;
  return KOLV::ObjectRef(source);
}

}  // namespace enhancement
