// The example networks name the enhancement nodes' parameters as the nodes
// take them, each written so that it reads as the value type they expect.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>

#include "SpeechEnhancement.h"
#include "VoiceActivityDetection.h"

namespace {

// Whether all of `text` reads as a number by `parse` (std::stoll, std::stod).
template <class Parse>
bool readsWhole(const std::string &text, Parse parse) {
  try {
    size_t used = 0;
    parse(text, &used);
    return used == text.size();
  } catch (const std::exception &) {
    return false;
  }
}

// How the network loader types a plain scalar: an integer literal is an int,
// a number with a decimal point or an exponent a float, anything else a string.
KOLV::ValueType scalarType(const YAML::Node &value) {
  const std::string text = value.Scalar();
  if (value.Tag() != "?") return KOLV::ValueType::String;
  if (readsWhole(text, [](const std::string &t, size_t *n) { return std::stoll(t, n); }))
    return KOLV::ValueType::Int;
  if (text.find_first_of(".eE") != std::string::npos &&
      readsWhole(text, [](const std::string &t, size_t *n) { return std::stod(t, n); }))
    return KOLV::ValueType::Float;
  return KOLV::ValueType::String;
}

const KOLV::NodeDescription *describe(const std::string &type) {
  if (type == "SpeechEnhancement") return &SpeechEnhancement::description();
  if (type == "VoiceActivityDetection") return &VoiceActivityDetection::description();
  return nullptr;
}

}  // namespace

TEST(ExampleNetworks, EnhancementNodesGetEveryParameterWithItsType) {
  const char *source = std::getenv("KOLV_SOURCE_DIR");
  if (!source) source = KOLV_TEST_SOURCE_DIR;
  for (const char *file : {"networks/enhance.yaml", "networks/vad.yaml"}) {
    SCOPED_TRACE(file);
    YAML::Node network = YAML::LoadFile(std::string(source) + "/" + file);
    int checked = 0;
    for (const auto &entry : network["nodes"]) {
      const KOLV::NodeDescription *description = describe(entry.second["type"].as<std::string>());
      if (!description) continue;
      ++checked;
      std::set<std::string> given;
      for (const auto &param : entry.second["params"]) given.insert(param.first.as<std::string>());
      std::set<std::string> taken;
      for (const KOLV::ParameterInfo &info : description->parameters) {
        taken.insert(info.name);
        SCOPED_TRACE(info.name);
        ASSERT_TRUE(entry.second["params"][info.name]);
        EXPECT_EQ(scalarType(entry.second["params"][info.name]), info.type);
      }
      EXPECT_EQ(given, taken);
      for (const KOLV::PortInfo &port : description->inputs)
        EXPECT_TRUE(entry.second["inputs"][port.name]) << port.name;
    }
    EXPECT_EQ(checked, 1);
  }
}
