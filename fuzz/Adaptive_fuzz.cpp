#include "EntryPoints.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kolvfuzz::enhanceFrames(data, size);
  return 0;
}
