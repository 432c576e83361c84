// Registration of the binaural toolbox: loading the library records its
// version and makes each node type known to the framework by name.
#include "Node.h"
#include "Object.h"
#include "SpeechEnhancement.h"
#include "VoiceActivityDetection.h"

namespace {

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("VEVOVU", "9497", "3.3.0");
    KOLV::Node::addFactory("SpeechEnhancement",
                           new KOLV::NodeFactory<SpeechEnhancement>("SpeechEnhancement"));
    KOLV::Node::addFactory("VoiceActivityDetection",
                           new KOLV::NodeFactory<VoiceActivityDetection>("VoiceActivityDetection"));
  }
};

ToolboxRegistration registration;

}  // namespace
