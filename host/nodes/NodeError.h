// The error a framework node throws about its parameters or its input frames.
// The scheduler wraps errors raised while frames are computed with the frame
// number, so the message names the node, the parameter or port and the values.
#ifndef KOLV_HOST_NODE_ERROR_H
#define KOLV_HOST_NODE_ERROR_H

#include <string>

#include "BaseException.h"
#include "Node.h"

namespace KOLV::host {

[[noreturn]] inline void throwNodeError(const std::string &nodeName, const std::string &what,
                                        const char *file, int line) {
  throw new GeneralException("node '" + nodeName + "': " + what, file, line);
}

// Frame `count` of input `id` of `node` as a T; a frame of another type is
// an error naming the port and both types.
template <class T>
RCPtr<T> typedInput(Node &node, int id, int count) {
  ObjectRef frame = node.getInput(id, count);
  if (dynamic_cast<T *>(frame.get())) return RCPtr<T>(frame);
  try {
    return RCPtr<T>(frame);  // a registered conversion may still apply
  } catch (BaseException *e) {
    delete e;
  }
  throwNodeError(node.getName(),
                 "input " + node.inputName(id) + " needs " + T::kClassName + " frames, got " +
                     (frame ? frame->className() : std::string("no object")),
                 __FILE_NAME__, __LINE__);
}

}  // namespace KOLV::host

// The source file without its folder: the text is for users.
#define KOLV_NODE_ERROR(nodeName, what) \
  ::KOLV::host::throwNodeError((nodeName), (what), __FILE_NAME__, __LINE__)

#endif
