// What a node type takes and gives: its ports and its parameter table. One
// table per node class serves `kolv nodes TYPE`, the network loader's check of
// parameter names and types, and the README's node reference.
#ifndef KOLV_NODE_DESCRIPTION_H
#define KOLV_NODE_DESCRIPTION_H

#include <string>
#include <vector>

namespace KOLV {

enum class ValueType { Int, Float, String };

// "int", "float" or "string", as users write them.
const char *valueTypeName(ValueType type);

struct ParameterInfo {
  std::string name;
  ValueType type;
  std::string unit;     // "Hz", "s", "samples", "cm", "" for none
  std::string meaning;  // one line
};

struct PortInfo {
  std::string name;
  std::string objectType;  // the frame object's class name
  std::string meaning;     // one line
};

struct NodeDescription {
  std::string summary;  // one line
  std::vector<PortInfo> inputs;
  std::vector<PortInfo> outputs;
  std::vector<ParameterInfo> parameters;
};

}  // namespace KOLV

#endif
