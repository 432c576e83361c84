#include "ObjectReader.h"

#include <complex>
#include <iostream>
#include <memory>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"
#include "StreamParameters.h"
#include "Vector.h"

namespace KOLV::host {

namespace {
template <class T>
ObjectRef zeroLike(const ObjectRef &object) {
  auto *matrix = dynamic_cast<const Matrix<T> *>(object.get());
  if (!matrix) return ObjectRef();
  return ObjectRef(new Matrix<T>(matrix->nrows(), matrix->ncols()));
}
}  // namespace

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &file = add(fileParameter("the text-form file to read"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &ObjectReader::description() {
  static const NodeDescription d{
      "Delivers the objects of a text-form file, one per frame; the file's end ends the stream",
      {},
      {{"OUTPUT", "any", "the k-th object of FILE as frame k"}},
      declared().entries()};
  return d;
}

ObjectReader::ObjectReader(std::string nodeName, ParameterSet params)
    : BufferedNode(nodeName, params) {
  outputID_ = addOutput("OUTPUT");
  file_ = declared().file.readString(parameters);
  processInOrder = true;
  in_.open(file_);
  if (!in_) KOLV_NODE_ERROR(getName(), "cannot read FILE '" + file_ + "'");
}

void ObjectReader::readUpTo(int count) {
  while (!ended_ && firstHeld_ + static_cast<int>(held_.size()) <= count) {
    ObjectRef object;
    readNext(object);
    if (!object) {
      ended_ = true;
      return;
    }
    held_.push_back(object);
    last_ = object;
  }
}

void ObjectReader::readNext(ObjectRef &object) {
  try {
    in_ >> object;
  } catch (BaseException *e) {
    std::unique_ptr<BaseException> error(e);
    // The reader stopped at the end of the file: the object was cut short
    // (a file still being written, a copy cut off), not malformed.
    if (!in_.eof()) throw error.release();
    std::cerr << "kolv: warning: node '" << getName() << "': FILE '" << file_
              << "' ends inside object " << firstHeld_ + held_.size() << " ("
              << error->text() << "); the stream ends with the objects before it\n";
    object = ObjectRef();
  }
}

bool ObjectReader::frameExists(int count) {
  readUpTo(count);
  return count < firstHeld_ + static_cast<int>(held_.size());
}

ObjectRef ObjectReader::emptyFrame() const {
  if (ObjectRef zero = zeroLike<float>(last_)) return zero;
  if (ObjectRef zero = zeroLike<std::complex<float>>(last_)) return zero;
  return ObjectRef(new Vector<ObjectRef>);
}

void ObjectReader::calculate(int, int count, Buffer &out) {
  readUpTo(count);
  // Frames come in order: everything before this one has been delivered.
  while (!held_.empty() && firstHeld_ < count) {
    held_.pop_front();
    ++firstHeld_;
  }
  if (!held_.empty() && firstHeld_ == count) {
    out[count] = held_.front();
    held_.pop_front();
    ++firstHeld_;
  } else {
    out[count] = emptyFrame();
  }
}

}  // namespace KOLV::host
