// Framework errors in the user's words: what went wrong, once, without the
// source file and line of the build that raised it.
#ifndef KOLV_HOST_ERROR_TEXT_H
#define KOLV_HOST_ERROR_TEXT_H

#include <string>

#include "BaseException.h"

namespace KOLV::host {

// The text of `e` (which stays owned by the caller). For an error of a node
// computing a frame: "node 'N' (TYPE) failed at frame F: " and the cause. A
// cause that opens by naming the node (and the frame) again loses that opening.
std::string userText(BaseException *e);

// `message` without an opening that names node `nodeName` ("SpeechEnhancement
// node 'x', frame 3: ..." becomes "...").
std::string withoutNodePrefix(const std::string &message, const std::string &nodeName);

}  // namespace KOLV::host

#endif
