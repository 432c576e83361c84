// What a node type takes and gives: its ports and its parameter table. Each
// parameter is declared once, with its type, unit, meaning, accepted values and
// default; the declaration is what the node's constructor reads through, what
// the network loader validates with, and what `kolv nodes TYPE` and the node
// reference print.
#ifndef KOLV_NODE_DESCRIPTION_H
#define KOLV_NODE_DESCRIPTION_H

#include <deque>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "Object.h"
#include "ParameterSet.h"

namespace KOLV {

enum class ValueType { Int, Float, String };

// "int", "float" or "string", as users write them.
const char *valueTypeName(ValueType type);

// A property of the audio stream that reaches a node. A parameter bound to one
// takes its value from the stream when a network leaves it out, and a network
// that gives it a value the stream disagrees with is refused.
enum class StreamProperty { None, SamplingRate, Advance, Length };

// "sampling rate", "frame shift", "frame length".
const char *streamPropertyName(StreamProperty property);

class ParameterInfo {
 public:
  using Value = std::variant<int, float, std::string>;

  std::string name;
  ValueType type = ValueType::Int;
  std::string unit;     // "Hz", "s", "samples", "cm", "" for none
  std::string meaning;  // one line

  // Accepted numbers: [minimum, maximum], either end open where flagged.
  double minimum = -std::numeric_limits<double>::infinity();
  double maximum = std::numeric_limits<double>::infinity();
  bool minimumOpen = false;
  bool maximumOpen = false;
  // Accepted strings; empty for any. Other values are refused where
  // `choicesStrict`, else only warned of (the node then treats them as it
  // documents, usually as "none").
  std::vector<std::string> choices;
  bool choicesStrict = true;
  bool hasDefault = false;
  Value defaultValue;
  StreamProperty stream = StreamProperty::None;
  // Whether the node states the stream's property (a source) rather than
  // taking it from the stream that reaches it.
  bool streamOrigin = false;
  // A duration at the start of the stream over which the node learns (its
  // noise): a recording shorter than it is warned of.
  bool learningPeriod = false;

  ParameterInfo atLeast(double value) const;
  ParameterInfo above(double value) const;
  ParameterInfo atMost(double value) const;
  ParameterInfo below(double value) const;
  ParameterInfo oneOf(std::vector<std::string> values) const;
  ParameterInfo knownValues(std::vector<std::string> values) const;
  ParameterInfo byDefault(int value) const;
  ParameterInfo byDefault(float value) const;
  ParameterInfo byDefault(const char *value) const;
  ParameterInfo fromStream(StreamProperty property) const;
  ParameterInfo setsStream(StreamProperty property) const;
  ParameterInfo learnsAtStart() const;

  // The value given in `params`, else the default. A value of another type is
  // the framework's cast error; a missing one without a default is the
  // missing-parameter error.
  int readInt(const ParameterSet &params) const;
  float readFloat(const ParameterSet &params) const;
  std::string readString(const ParameterSet &params) const;

  // Whether the table says anything about accepted values.
  bool hasRange() const;
  // "1 to 16", "above 0", "one of A, B", "" when anything goes.
  std::string acceptedText() const;
  // The default as written in a network ("160", "1.0", "USE"), "" for none.
  std::string defaultText() const;

  // Why `value` (of this parameter's type) is not accepted, or "" when it is.
  std::string refusal(const ObjectRef &value) const;
  // For a string outside non-strict choices: the warning text without the
  // node's name, else "".
  std::string warning(const ObjectRef &value) const;
};

ParameterInfo intParameter(std::string name, std::string unit, std::string meaning);
ParameterInfo floatParameter(std::string name, std::string unit, std::string meaning);
ParameterInfo stringParameter(std::string name, std::string unit, std::string meaning);

// A node's parameters in declaration order, which is the order the node reads
// them. A node derives a struct from it with one member per parameter:
//   struct Parameters : ParameterTable {
//     const ParameterInfo &advance = add(intParameter("ADVANCE", ...).above(0));
//   };
class ParameterTable {
 public:
  ParameterTable() = default;
  ParameterTable(const ParameterTable &) = delete;
  ParameterTable &operator=(const ParameterTable &) = delete;

  std::vector<ParameterInfo> entries() const { return {entries_.begin(), entries_.end()}; }
  // Throws a GeneralException naming `who`, the parameter, its value and what
  // is accepted, for the first given value outside its range or choices.
  void validate(const ParameterSet &params, const std::string &who) const;

 protected:
  const ParameterInfo &add(ParameterInfo info);

 private:
  std::deque<ParameterInfo> entries_;  // a deque keeps the members' references valid
};

struct PortInfo {
  std::string name;
  std::string objectType;  // the frame object's class name
  std::string meaning;     // one line
  int minChannels = 0;     // rows an input needs from the audio stream; 0 for any
};

struct NodeDescription {
  std::string summary;  // one line
  std::vector<PortInfo> inputs;
  std::vector<PortInfo> outputs;
  std::vector<ParameterInfo> parameters;
  // Outputs carry the stream of the node's inputs (its rate, shift, frame
  // length and channels), except where these say otherwise.
  bool singleChannelOutput = false;    // one channel whatever comes in
  bool outputFramesOfAdvance = false;  // frames of ADVANCE samples (overlap-add)

  // The declaration of parameter `name`, or null.
  const ParameterInfo *parameter(const std::string &name) const;
};

}  // namespace KOLV

#endif
