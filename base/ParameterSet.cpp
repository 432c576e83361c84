#include "ParameterSet.h"

namespace KOLV {

ObjectRef ParameterSet::get(const std::string &name) const {
  auto it = entries_.find(name);
  if (it == entries_.end())
    throw new GeneralException("Missing parameter: " + name, __FILE__, __LINE__);
  it->second.second = true;
  return it->second.first;
}

std::vector<std::string> ParameterSet::names() const {
  std::vector<std::string> list;
  for (const auto &entry : entries_) list.push_back(entry.first);
  return list;
}

std::vector<std::string> ParameterSet::unread() const {
  std::vector<std::string> list;
  for (const auto &entry : entries_)
    if (!entry.second.second) list.push_back(entry.first);
  return list;
}

}  // namespace KOLV
