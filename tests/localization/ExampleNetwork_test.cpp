#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <set>
#include <string>

#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "TestNetwork.h"

namespace {

// A parameter value typed as network files type it: integer literals are
// ints, other numbers (with a point or an exponent) floats, all else strings.
KOLV::ObjectRef typedValue(const YAML::Node &value) {
  const std::string text = value.Scalar();
  if (value.Tag() != "!" && !text.empty()) {
    size_t used = 0;
    try {
      if (text.find_first_of(".eE") == std::string::npos) {
        int v = std::stoi(text, &used);
        if (used == text.size()) return kolvtest::intValue(v);
      } else {
        float v = std::stof(text, &used);
        if (used == text.size()) return kolvtest::floatValue(v);
      }
    } catch (const std::exception &) {
      // not a number: a string
    }
  }
  return kolvtest::stringValue(text);
}

template <class NodeType>
void checkBuilds(const std::string &name, const YAML::Node &node) {
  SCOPED_TRACE(name);
  KOLV::ParameterSet params;
  std::set<std::string> given;
  for (const auto &entry : node["params"]) {
    params.add(entry.first.as<std::string>(), typedValue(entry.second));
    given.insert(entry.first.as<std::string>());
  }
  std::set<std::string> taken;
  for (const KOLV::ParameterInfo &info : NodeType::description().parameters) taken.insert(info.name);
  EXPECT_EQ(given, taken);
  try {
    NodeType built(name, params);
  } catch (KOLV::BaseException *e) {
    ADD_FAILURE() << e->text();
    delete e;
  }
}

}  // namespace

TEST(ExampleNetwork, LocalizationNodesOfTheExampleBuildFromItsParameters) {
  const YAML::Node network = YAML::LoadFile(std::string(KOLV_SOURCE_ROOT) + "/networks/localize.yaml");
  int built = 0;
  for (const auto &entry : network["nodes"]) {
    const std::string name = entry.first.as<std::string>();
    const std::string type = entry.second["type"].as<std::string>();
    if (type == "BinauralMultisourceLocalization") {
      checkBuilds<BinauralMultisourceLocalization>(name, entry.second);
      ++built;
    } else if (type == "BinauralMultisourceTracker") {
      checkBuilds<BinauralMultisourceTracker>(name, entry.second);
      EXPECT_EQ(entry.second["inputs"]["ESTIMATED_DOA"].as<std::string>(), "localization.ESTIMATED_DOA");
      ++built;
    }
  }
  EXPECT_EQ(built, 2);
}
