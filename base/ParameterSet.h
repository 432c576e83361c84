// The parameters a node is built with: name -> (value object, read flag).
#ifndef KOLV_PARAMETER_SET_H
#define KOLV_PARAMETER_SET_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Object.h"

namespace KOLV {

class ParameterSet {
 public:
  void add(const std::string &name, ObjectRef value) { entries_[name] = {std::move(value), false}; }
  bool exist(const std::string &name) const { return entries_.count(name) != 0; }
  // The value object; a missing parameter throws a GeneralException naming it.
  ObjectRef get(const std::string &name) const;
  std::vector<std::string> names() const;
  // Names that were added but never read with get().
  std::vector<std::string> unread() const;

 private:
  mutable std::map<std::string, std::pair<ObjectRef, bool>> entries_;
};

}  // namespace KOLV

#endif
