// The example network's separation node takes exactly the parameters of the
// node's table, each of its type, and builds.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <set>

#include "SourceSeparation.h"
#include "TestNetwork.h"

namespace {

// A parameter value as the network loader types it: integer literals are
// ints, numbers with a point or an exponent floats, everything else strings.
KOLV::ObjectRef typedValue(const YAML::Node &value, KOLV::ValueType declared) {
  const std::string text = value.Scalar();
  const bool isNumber = value.Tag() != "!" &&
                        text.find_first_not_of("+-0123456789.eE") == std::string::npos;
  const bool isFloat = isNumber && text.find_first_of(".eE") != std::string::npos;
  switch (declared) {
    case KOLV::ValueType::Int:
      EXPECT_TRUE(isNumber && !isFloat) << text << " is not an int";
      return kolvtest::intValue(value.as<int>());
    case KOLV::ValueType::Float:
      EXPECT_TRUE(isFloat) << text << " is not a float";
      return kolvtest::floatValue(value.as<float>());
    case KOLV::ValueType::String:
      EXPECT_FALSE(isNumber) << text << " is not a string";
      break;
  }
  return kolvtest::stringValue(text);
}

TEST(ExampleNetwork, SeparationNodeMatchesItsParameterTable) {
  const YAML::Node network =
      YAML::LoadFile(kolvtest::sourceDir() + "/networks/separate.yaml");
  const KOLV::NodeDescription &table = KOLV::SourceSeparation::description();
  int separators = 0;
  for (const auto &entry : network["nodes"]) {
    if (entry.second["type"].as<std::string>() != "SourceSeparation") continue;
    ++separators;
    const YAML::Node params = entry.second["params"];
    std::set<std::string> given;
    for (const auto &param : params) given.insert(param.first.as<std::string>());
    KOLV::ParameterSet set;
    for (const KOLV::ParameterInfo &info : table.parameters) {
      ASSERT_TRUE(params[info.name]) << info.name << " missing";
      set.add(info.name, typedValue(params[info.name], info.type));
      given.erase(info.name);
    }
    EXPECT_TRUE(given.empty()) << *given.begin() << " is not a parameter of SourceSeparation";
    KOLV::SourceSeparation node(entry.first.as<std::string>(), set);
    EXPECT_EQ(node.framesPerBlock(), 300);
    EXPECT_TRUE(entry.second["inputs"]["INPUT_AUDIO_SPECTRUM"]);
  }
  EXPECT_EQ(separators, 1);
}

}  // namespace
