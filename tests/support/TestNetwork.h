// Small networks for tests: a feeder that delivers prepared frames, value
// helpers for parameters, and wiring that gives every buffer room enough for
// a whole test stream.
#ifndef KOLV_TEST_NETWORK_H
#define KOLV_TEST_NETWORK_H

#include <complex>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GenericType.h"
#include "Matrix.h"
#include "Node.h"
#include "Source.h"
#include "Vector.h"

namespace kolvtest {

using KOLV::ObjectRef;

constexpr int kTestCapacity = 1 << 14;

// The repository and the build folder, compiled into every test program.
inline std::string sourceDir() { return KOLV_SOURCE_DIR; }
inline std::string buildDir() { return KOLV_BUILD_DIR; }

inline ObjectRef intValue(int v) { return ObjectRef(new KOLV::GenericType<int>(v)); }
inline ObjectRef floatValue(float v) { return ObjectRef(new KOLV::GenericType<float>(v)); }
inline ObjectRef stringValue(const std::string &v) { return ObjectRef(new KOLV::String(v)); }

inline KOLV::ParameterSet makeParams(const std::vector<std::pair<std::string, ObjectRef>> &list) {
  KOLV::ParameterSet params;
  for (const auto &entry : list) params.add(entry.first, entry.second);
  return params;
}

// Delivers frames[count]; past the end, `pastEnd` (as the host's sources
// deliver an empty frame of their kind).
class FrameFeeder : public KOLV::BufferedNode {
 public:
  explicit FrameFeeder(std::vector<ObjectRef> frames, ObjectRef pastEnd = ObjectRef())
      : BufferedNode("feeder", KOLV::ParameterSet()), frames_(std::move(frames)),
        pastEnd_(std::move(pastEnd)) {
    addOutput("OUTPUT");
    processInOrder = true;
    setOutputCapacity(0, kTestCapacity);
  }
  void calculate(int, int count, KOLV::Buffer &out) override {
    out[count] = count < static_cast<int>(frames_.size()) ? frames_[count] : pastEnd_;
    if (count > highestRequested) highestRequested = count;
  }
  int highestRequested = -1;

 private:
  std::vector<ObjectRef> frames_;
  ObjectRef pastEnd_;
};

// Connects `feeder` to input `port` of `node`, and gives every output of the
// node room for a whole test stream.
inline void wire(KOLV::BufferedNode &node, const std::string &port, FrameFeeder &feeder) {
  int id = node.findInput(port);
  if (id < 0) throw std::runtime_error("no input port " + port);
  node.connectInput(id, &feeder, 0);
  for (int o = 0; o < node.numOutputs(); ++o) node.setOutputCapacity(o, kTestCapacity);
}

using ComplexMatrix = KOLV::Matrix<std::complex<float>>;
using FloatMatrix = KOLV::Matrix<float>;
using SourceVector = KOLV::Vector<ObjectRef>;

inline KOLV::RCPtr<ComplexMatrix> complexMatrix(int rows, int cols) {
  return KOLV::RCPtr<ComplexMatrix>(new ComplexMatrix(rows, cols));
}

inline KOLV::RCPtr<FloatMatrix> floatMatrix(int rows, int cols) {
  return KOLV::RCPtr<FloatMatrix>(new FloatMatrix(rows, cols));
}

// A source record as the localization node makes one.
inline ObjectRef sourceAt(double azimuthDegrees, float power = 1.0f, int id = 0) {
  auto *s = new KOLV::Source;
  double theta = azimuthDegrees * 3.141592653589793 / 180.0;
  s->x[0] = static_cast<float>(std::cos(theta));
  s->x[1] = static_cast<float>(std::sin(theta));
  s->power = power;
  s->id = id;
  return ObjectRef(s);
}

// Runs `action` and returns the text of the framework exception of type E it
// throws (deleting it, as the framework's catchers do), or "" when it throws
// nothing. Other exceptions pass on.
template <class E = KOLV::BaseException, class F>
std::string thrownText(F action) {
  try {
    action();
  } catch (E *e) {
    std::unique_ptr<E> owned(e);
    return e->text();
  }
  return "";
}

}  // namespace kolvtest

#endif
