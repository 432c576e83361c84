// The frames of one node output that are still reachable: a ring of slots
// indexed by frame number. Claiming the slot of a newer frame releases the
// oldest one, so memory stays bounded however long the stream.
#ifndef KOLV_BUFFER_H
#define KOLV_BUFFER_H

#include <string>
#include <vector>

#include "Object.h"

namespace KOLV {

class Buffer {
 public:
  explicit Buffer(int capacity = 1) { resize(capacity); }

  // Sets how many consecutive frames stay readable. Drops what is stored.
  void resize(int capacity);
  int capacity() const { return static_cast<int>(slots_.size()); }

  // The slot of frame `count`. A frame newer than the one in its slot takes
  // the slot over (empty); a frame older than it has been released and throws.
  ObjectRef &operator[](int count);
  // Whether frame `count` has a slot now.
  bool holds(int count) const;
  // The newest frame that has had a slot, or -1.
  int newestFrame() const { return newest_; }
  // The oldest frame that still has a slot, or -1.
  int oldestFrame() const;

  // Who owns the buffer, for error messages.
  void setOwner(std::string owner) { owner_ = std::move(owner); }

 private:
  std::vector<ObjectRef> slots_;
  std::vector<int> frameOf_;
  int newest_ = -1;
  std::string owner_;
};

}  // namespace KOLV

#endif
