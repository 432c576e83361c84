// Loading the toolbox registers its version and its nine node types, in
// order; every node is built from its own parameter table, declares the ports
// the table lists, and refuses a parameter of the wrong value type.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Node.h"
#include "TestNetwork.h"

namespace {

using kolvtest::floatValue;
using kolvtest::intValue;
using kolvtest::stringValue;

const std::vector<std::string> kNodeTypes = {
    "BinauralMultisourceLocalization", "BinauralMultisourceTracker", "SSLvisualization",
    "SourceSeparation",                "SpectrumVisualization",      "SpeechEnhancement",
    "VADvisualization",                "VoiceActivityDetection",     "WaveVisualization"};

// A sensible value for every parameter of the toolbox's nodes.
const std::map<std::string, KOLV::ObjectRef> &sampleValues() {
  static const std::map<std::string, KOLV::ObjectRef> values = {
      {"ADVANCE", intValue(160)},
      {"SAMPLING_RATE", intValue(16000)},
      {"MICS_DISTANCE", floatValue(18.7f)},
      {"GCCPHAT_THRESHOLD", floatValue(0.15f)},
      {"SOUND_DIFFRACTION_COMPENSATION", stringValue("SPHERICAL_HEAD")},
      {"FREQUENCY_HIGH", floatValue(2800.0f)},
      {"FREQUENCY_LOW", floatValue(500.0f)},
      {"NOISE_DURATION", floatValue(1.0f)},
      {"CLUSTERING_DURATION", floatValue(2.0f)},
      {"ITERATION_METHOD", stringValue("[IVA]NATURAL_GRADIENT_DESCENT_METHOD")},
      {"NUMBER_OF_SOURCES_TO_BE_SEPARATED", intValue(2)},
      {"MAX_ITERATION", intValue(10)},
      {"SEPARATION_TIME_LENGTH", floatValue(3.0f)},
      {"NOISE_REDUCTION_METHOD", stringValue("WIENER_FILTERING")},
      {"HARMONIC_REGENERATION", stringValue("USE")},
      {"NOISE_PERIOD", floatValue(1.0f)},
      {"VAD_NOISE_DURATION", floatValue(1.0f)},
      {"VAD_THRESHOLD", floatValue(2.0f)},
      {"VISUALIZATION_TIME_LENGTH", floatValue(3.0f)},
      {"WINDOW_NAME", stringValue("test window")},
  };
  return values;
}

KOLV::ObjectRef wrongTypeFor(KOLV::ValueType type) {
  return type == KOLV::ValueType::Float ? intValue(1) : floatValue(1.0f);
}

class Toolbox : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle = dlopen(KOLV_TOOLBOX_FILE, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  static KOLV::ParameterSet sampleParameters(const KOLV::NodeDescription &description) {
    KOLV::ParameterSet params;
    for (const KOLV::ParameterInfo &p : description.parameters)
      params.add(p.name, sampleValues().at(p.name));
    return params;
  }
  static void *handle;
};
void *Toolbox::handle = nullptr;

TEST_F(Toolbox, RegistersItsVersionAndNineNodesInOrder) {
  std::vector<std::string> names;
  for (KOLV::_NodeFactory *factory : KOLV::Node::factories()) names.push_back(factory->getName());
  EXPECT_EQ(names, kNodeTypes);
  ASSERT_FALSE(KOLV::Object::moduleVersions().empty());
  const auto &version = KOLV::Object::moduleVersions().back();
  EXPECT_EQ(version.name, "VEVOVU");
  EXPECT_EQ(version.revision, "9497");
  EXPECT_EQ(version.version, "3.3.0");
}

TEST_F(Toolbox, EveryNodeDeclaresThePortsOfItsTable) {
  for (const std::string &type : kNodeTypes) {
    SCOPED_TRACE(type);
    KOLV::_NodeFactory *factory = KOLV::Node::getFactoryNamed(type);
    ASSERT_NE(factory, nullptr);
    ASSERT_NE(factory->description(), nullptr);
    const KOLV::NodeDescription &description = *factory->description();
    std::unique_ptr<KOLV::Node> node(factory->Create("node", sampleParameters(description)));
    ASSERT_EQ(node->numInputs(), static_cast<int>(description.inputs.size()));
    ASSERT_EQ(node->numOutputs(), static_cast<int>(description.outputs.size()));
    for (int i = 0; i < node->numInputs(); ++i)
      EXPECT_EQ(node->inputName(i), description.inputs[i].name);
    for (int o = 0; o < node->numOutputs(); ++o)
      EXPECT_EQ(node->outputName(o), description.outputs[o].name);
  }
}

TEST_F(Toolbox, AParameterOfTheWrongTypeIsACastError) {
  for (const std::string &type : kNodeTypes) {
    KOLV::_NodeFactory *factory = KOLV::Node::getFactoryNamed(type);
    ASSERT_NE(factory, nullptr);
    for (const KOLV::ParameterInfo &p : factory->description()->parameters) {
      SCOPED_TRACE(type + "." + p.name);
      KOLV::ParameterSet params = sampleParameters(*factory->description());
      params.add(p.name, wrongTypeFor(p.type));
      std::string text = kolvtest::thrownText([&] { delete factory->Create("node", params); });
      EXPECT_EQ(text.rfind("Cast error: Trying to cast ObjectRef (", 0), 0u) << text;
    }
  }
}

}  // namespace
