// Arbitrary bytes through the text-form reader: every object it builds must
// print and read back, and every failure must be one of the framework's
// exceptions.
#include <sstream>
#include <stdexcept>
#include <string>

#include "EntryPoints.h"
#include "GenericType.h"
#include "Matrix.h"
#include "Source.h"
#include "Vector.h"

namespace kolvfuzz {

namespace {

// The largest number of objects one input may hold before we stop reading.
constexpr int kMaxObjects = 64;
// Digits that make every float read back exactly.
constexpr int kExactFloatDigits = 9;

void printAndReadBack(const KOLV::ObjectRef &ref) {
  std::ostringstream out;
  out.precision(kExactFloatDigits);
  out << ref;
  std::istringstream again(out.str());
  KOLV::ObjectRef back;
  try {
    again >> back;
  } catch (KOLV::BaseException *e) {
    std::string text = e->text();
    delete e;
    throw std::logic_error("a printed object does not read back: " + text + "\n" + out.str());
  }
}

}  // namespace

void readTextForm(const uint8_t *data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  for (int i = 0; i < kMaxObjects && in; ++i) {
    KOLV::ObjectRef ref;
    try {
      in >> ref;
    } catch (KOLV::BaseException *e) {
      delete e;
      return;
    }
    if (!ref) return;
    printAndReadBack(ref);
  }
}

}  // namespace kolvfuzz
