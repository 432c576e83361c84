#include "NodeDescription.h"

#include <cmath>
#include <sstream>

#include "GenericType.h"

namespace KOLV {

namespace {

// Numbers as a user reads them; as a network writes them when `type` is
// Float (with a decimal point).
std::string numberText(double value, ValueType type) {
  std::ostringstream text;
  text << value;
  std::string s = text.str();
  if (type == ValueType::Float && s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

std::string joined(const std::vector<std::string> &values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + values[i];
  return text;
}

bool tooLow(const ParameterInfo &p, double v) {
  return p.minimumOpen ? !(v > p.minimum) : !(v >= p.minimum);
}

bool tooHigh(const ParameterInfo &p, double v) {
  return p.maximumOpen ? !(v < p.maximum) : !(v <= p.maximum);
}

ParameterInfo declared(std::string name, ValueType type, std::string unit, std::string meaning) {
  ParameterInfo p;
  p.name = std::move(name);
  p.type = type;
  p.unit = std::move(unit);
  p.meaning = std::move(meaning);
  return p;
}

}  // namespace

const char *valueTypeName(ValueType type) {
  switch (type) {
    case ValueType::Int:
      return "int";
    case ValueType::Float:
      return "float";
    case ValueType::String:
      return "string";
  }
  return "?";
}

const char *streamPropertyName(StreamProperty property) {
  switch (property) {
    case StreamProperty::SamplingRate:
      return "sampling rate";
    case StreamProperty::Advance:
      return "frame shift";
    case StreamProperty::Length:
      return "frame length";
    case StreamProperty::None:
      break;
  }
  return "";
}

ParameterInfo intParameter(std::string name, std::string unit, std::string meaning) {
  return declared(std::move(name), ValueType::Int, std::move(unit), std::move(meaning));
}

ParameterInfo floatParameter(std::string name, std::string unit, std::string meaning) {
  return declared(std::move(name), ValueType::Float, std::move(unit), std::move(meaning));
}

ParameterInfo stringParameter(std::string name, std::string unit, std::string meaning) {
  return declared(std::move(name), ValueType::String, std::move(unit), std::move(meaning));
}

ParameterInfo ParameterInfo::atLeast(double value) const {
  ParameterInfo p = *this;
  p.minimum = value;
  p.minimumOpen = false;
  return p;
}

ParameterInfo ParameterInfo::above(double value) const {
  ParameterInfo p = *this;
  p.minimum = value;
  p.minimumOpen = true;
  return p;
}

ParameterInfo ParameterInfo::atMost(double value) const {
  ParameterInfo p = *this;
  p.maximum = value;
  p.maximumOpen = false;
  return p;
}

ParameterInfo ParameterInfo::below(double value) const {
  ParameterInfo p = *this;
  p.maximum = value;
  p.maximumOpen = true;
  return p;
}

ParameterInfo ParameterInfo::oneOf(std::vector<std::string> values) const {
  ParameterInfo p = *this;
  p.choices = std::move(values);
  p.choicesStrict = true;
  return p;
}

ParameterInfo ParameterInfo::knownValues(std::vector<std::string> values) const {
  ParameterInfo p = *this;
  p.choices = std::move(values);
  p.choicesStrict = false;
  return p;
}

ParameterInfo ParameterInfo::byDefault(int value) const {
  ParameterInfo p = *this;
  p.hasDefault = true;
  p.defaultValue = value;
  return p;
}

ParameterInfo ParameterInfo::byDefault(float value) const {
  ParameterInfo p = *this;
  p.hasDefault = true;
  p.defaultValue = value;
  return p;
}

ParameterInfo ParameterInfo::byDefault(const char *value) const {
  ParameterInfo p = *this;
  p.hasDefault = true;
  p.defaultValue = std::string(value);
  return p;
}

ParameterInfo ParameterInfo::fromStream(StreamProperty property) const {
  ParameterInfo p = *this;
  p.stream = property;
  return p;
}

ParameterInfo ParameterInfo::setsStream(StreamProperty property) const {
  ParameterInfo p = *this;
  p.stream = property;
  p.streamOrigin = true;
  return p;
}

ParameterInfo ParameterInfo::learnsAtStart() const {
  ParameterInfo p = *this;
  p.learningPeriod = true;
  return p;
}

int ParameterInfo::readInt(const ParameterSet &params) const {
  if (!params.exist(name) && hasDefault && std::holds_alternative<int>(defaultValue))
    return std::get<int>(defaultValue);
  return dereference_cast<int>(params.get(name));
}

float ParameterInfo::readFloat(const ParameterSet &params) const {
  if (!params.exist(name) && hasDefault && std::holds_alternative<float>(defaultValue))
    return std::get<float>(defaultValue);
  return dereference_cast<float>(params.get(name));
}

std::string ParameterInfo::readString(const ParameterSet &params) const {
  if (!params.exist(name) && hasDefault && std::holds_alternative<std::string>(defaultValue))
    return std::get<std::string>(defaultValue);
  return dereference_cast<String>(params.get(name));
}

bool ParameterInfo::hasRange() const {
  return std::isfinite(minimum) || std::isfinite(maximum) || !choices.empty();
}

std::string ParameterInfo::acceptedText() const {
  if (!choices.empty()) return "one of " + joined(choices);
  const bool low = std::isfinite(minimum), high = std::isfinite(maximum);
  std::string from = numberText(minimum, ValueType::Int), to = numberText(maximum, ValueType::Int);
  if (low && high && !minimumOpen && !maximumOpen) return from + " to " + to;
  std::string text;
  if (low) text = (minimumOpen ? "above " : "at least ") + from;
  if (high) text += std::string(low ? " and " : "") + (maximumOpen ? "below " : "at most ") + to;
  return text;
}

std::string ParameterInfo::defaultText() const {
  if (!hasDefault) return "";
  if (const int *i = std::get_if<int>(&defaultValue)) return std::to_string(*i);
  if (const float *f = std::get_if<float>(&defaultValue)) return numberText(*f, ValueType::Float);
  return std::get<std::string>(defaultValue);
}

std::string ParameterInfo::refusal(const ObjectRef &value) const {
  if (type == ValueType::String) {
    if (!choicesStrict || choices.empty()) return "";
    const std::string text = dereference_cast<String>(value);
    for (const std::string &choice : choices)
      if (text == choice) return "";
    return "parameter " + name + " is '" + text + "'; it must be " + acceptedText();
  }
  const double v = type == ValueType::Int ? dereference_cast<int>(value)
                                          : dereference_cast<float>(value);
  if (!tooLow(*this, v) && !tooHigh(*this, v)) return "";
  return "parameter " + name + " is " + numberText(v, ValueType::Int) + (unit.empty() ? "" : " " + unit) +
         "; it must be " + acceptedText();
}

std::string ParameterInfo::warning(const ObjectRef &value) const {
  if (type != ValueType::String || choicesStrict || choices.empty()) return "";
  const std::string text = dereference_cast<String>(value);
  for (const std::string &choice : choices)
    if (text == choice) return "";
  return "parameter " + name + " is '" + text + "', which is not one of " + joined(choices) +
         " (values are compared exactly, upper and lower case included)";
}

const ParameterInfo &ParameterTable::add(ParameterInfo info) {
  entries_.push_back(std::move(info));
  return entries_.back();
}

void ParameterTable::validate(const ParameterSet &params, const std::string &who) const {
  for (const ParameterInfo &p : entries_) {
    if (!params.exist(p.name)) continue;
    const std::string why = p.refusal(params.get(p.name));
    if (!why.empty()) throw new GeneralException(who + ": " + why, __FILE__, __LINE__);
  }
}

const ParameterInfo *NodeDescription::parameter(const std::string &name) const {
  for (const ParameterInfo &p : parameters)
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace KOLV
