// A toolbox for the host's tests: a counting source, a node that reads its
// input at chosen distances and logs what it saw, and a node that fails at a
// chosen frame.
#include <fstream>
#include <string>

#include "GenericType.h"
#include "Matrix.h"
#include "Node.h"

namespace {

using KOLV::Buffer;
using KOLV::BufferedNode;
using KOLV::Matrix;
using KOLV::NodeDescription;
using KOLV::ObjectRef;
using KOLV::ParameterSet;
using KOLV::RCPtr;
using KOLV::ValueType;

int intParam(const ParameterSet &params, const char *name) {
  return KOLV::dereference_cast<int>(params.get(name));
}

// Frame k is a 1 x 1 matrix holding k + 1; past FRAMES, a 1 x 1 zero matrix.
class CountingSource : public BufferedNode {
 public:
  CountingSource(std::string name, ParameterSet params) : BufferedNode(name, params) {
    addOutput("OUTPUT");
    frames_ = intParam(parameters, "FRAMES");
    processInOrder = true;
  }
  static const NodeDescription &description() {
    static const NodeDescription d{"Counts frames",
                                   {},
                                   {{"OUTPUT", "Matrix<float>", "1 x 1: frame number + 1"}},
                                   {KOLV::intParameter("FRAMES", "", "frames in the stream")}};
    return d;
  }
  bool frameExists(int count) override { return count < frames_; }
  void calculate(int, int count, Buffer &out) override {
    RCPtr<Matrix<float>> frame(new Matrix<float>(1, 1));
    (*frame)(0, 0) = count < frames_ ? static_cast<float>(count + 1) : 0.0f;
    out[count] = frame;
  }

 private:
  int frames_;
};

// Declares AHEAD and BACK, reads READ_BACK frames back to READ_AHEAD ahead,
// and logs "count: values..." (the first element of each frame read) to FILE.
class Probe : public BufferedNode {
 public:
  Probe(std::string name, ParameterSet params) : BufferedNode(name, params) {
    input_ = addInput("INPUT");
    addOutput("OUTPUT");
    setInputLookAhead(input_, intParam(parameters, "AHEAD"));
    setInputLookBack(input_, intParam(parameters, "BACK"));
    readAhead_ = intParam(parameters, "READ_AHEAD");
    readBack_ = intParam(parameters, "READ_BACK");
    log_.open(KOLV::dereference_cast<KOLV::String>(parameters.get("FILE")));
    processInOrder = true;
  }
  static const NodeDescription &description() {
    static const NodeDescription d{
        "Reads its input around each frame and logs what it saw",
        {{"INPUT", "Matrix<float>", "frames to look at"}},
        {{"OUTPUT", "Matrix<float>", "the current input frame"}},
        {KOLV::intParameter("AHEAD", "frames", "declared look-ahead"),
         KOLV::intParameter("BACK", "frames", "declared look-back"),
         KOLV::intParameter("READ_AHEAD", "frames", "frames actually read ahead"),
         KOLV::intParameter("READ_BACK", "frames", "frames actually read back"),
         KOLV::stringParameter("FILE", "", "the log")}};
    return d;
  }
  void calculate(int, int count, Buffer &out) override {
    log_ << count << ':';
    for (int k = count - readBack_; k <= count + readAhead_; ++k) {
      if (k < 0) continue;
      RCPtr<Matrix<float>> frame = getInput(input_, k);
      log_ << ' ' << (*frame)(0, 0);
    }
    log_ << '\n';
    out[count] = getInput(input_, count);
  }
  void finish() override { log_.flush(); }

 private:
  int input_;
  int readAhead_;
  int readBack_;
  std::ofstream log_;
};

// Passes its input on, and throws at frame FRAME.
class FailAt : public BufferedNode {
 public:
  FailAt(std::string name, ParameterSet params) : BufferedNode(name, params) {
    input_ = addInput("INPUT");
    addOutput("OUTPUT");
    frame_ = intParam(parameters, "FRAME");
    processInOrder = true;
  }
  static const NodeDescription &description() {
    static const NodeDescription d{"Fails at a given frame",
                                   {{"INPUT", "any", "passed on"}},
                                   {{"OUTPUT", "any", "the input"}},
                                   {KOLV::intParameter("FRAME", "", "the frame that fails")}};
    return d;
  }
  void calculate(int, int count, Buffer &out) override {
    if (count == frame_) throw new KOLV::GeneralException("deliberate failure", "FailAt", 1);
    out[count] = getInput(input_, count);
  }

 private:
  int input_;
  int frame_;
};

struct ProbeRegistration {
  ProbeRegistration() {
    KOLV::Object::setModuleVersion("PROBE", "1", "1.0");
    KOLV::registerNodeType<CountingSource>("CountingSource");
    KOLV::registerNodeType<Probe>("Probe");
    KOLV::registerNodeType<FailAt>("FailAt");
  }
};

ProbeRegistration registration;

}  // namespace
