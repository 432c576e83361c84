#include "BaseException.h"

#include <sstream>

namespace KOLV {

BaseException *BaseException::add(BaseException *context) {
  delete context;
  return this;
}

std::string BaseException::text() {
  std::ostringstream out;
  print(out);
  std::string s = out.str();
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

void GeneralException::print(std::ostream &out) {
  out << file_ << ", line " << line_ << ": " << message_ << '\n';
}

void NodeException::print(std::ostream &out) {
  out << "node '" << nodeName_ << "' (" << nodeType_ << ") failed at frame " << frame_ << ": ";
  if (cause_)
    cause_->print(out);
  else
    out << causeText_ << '\n';
}

}  // namespace KOLV
