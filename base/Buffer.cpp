#include "Buffer.h"

namespace KOLV {

void Buffer::resize(int capacity) {
  if (capacity < 1) capacity = 1;
  slots_.assign(capacity, ObjectRef());
  frameOf_.assign(capacity, -1);
  newest_ = -1;
}

ObjectRef &Buffer::operator[](int count) {
  if (count < 0)
    throw new GeneralException(owner_ + ": frame " + std::to_string(count) + " does not exist",
                               __FILE__, __LINE__);
  size_t index = static_cast<size_t>(count) % slots_.size();
  if (frameOf_[index] != count) {
    if (frameOf_[index] > count)
      throw new GeneralException(
          owner_ + ": frame " + std::to_string(count) +
              " has been released (frames " + std::to_string(oldestFrame()) + " to " +
              std::to_string(newest_) +
              " are kept); a consumer reads further back or ahead than it declares",
          __FILE__, __LINE__);
    frameOf_[index] = count;
    slots_[index].reset();
    if (count > newest_) newest_ = count;
  }
  return slots_[index];
}

bool Buffer::holds(int count) const {
  if (count < 0) return false;
  return frameOf_[static_cast<size_t>(count) % slots_.size()] == count;
}

int Buffer::oldestFrame() const {
  int oldest = -1;
  for (int frame : frameOf_)
    if (frame >= 0 && (oldest < 0 || frame < oldest)) oldest = frame;
  return oldest;
}

}  // namespace KOLV
