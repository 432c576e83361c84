// Feeds arbitrary bytes to the text-form reader: every object it builds must
// print and read back, and every failure must be one of the framework's
// exceptions.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "GenericType.h"
#include "Matrix.h"
#include "Source.h"
#include "Vector.h"

namespace {

// The largest number of objects one input may hold before we stop reading.
constexpr int kMaxObjects = 64;

void readAll(std::istream &in) {
  for (int i = 0; i < kMaxObjects && in; ++i) {
    KOLV::ObjectRef ref;
    try {
      in >> ref;
    } catch (KOLV::BaseException *e) {
      delete e;
      return;
    }
    if (!ref) return;
    std::ostringstream out;
    out.precision(9);
    out << ref;
    std::istringstream again(out.str());
    KOLV::ObjectRef back;
    again >> back;  // what printed must read back: an exception here is a bug
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  readAll(in);
  return 0;
}
