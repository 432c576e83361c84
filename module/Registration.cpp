// Registration of the binaural toolbox: loading the library records its
// version and makes each node type known to the framework by name.
#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "Node.h"
#include "Object.h"
#include "SSLvisualization.h"
#include "SourceSeparation.h"
#include "SpectrumVisualization.h"
#include "SpeechEnhancement.h"
#include "VADvisualization.h"
#include "VoiceActivityDetection.h"
#include "WaveVisualization.h"

namespace {

// A node type is registered under its class name; the framework keeps the
// factory for the life of the process.
template <class T>
void registerNode(const char *className) {
  KOLV::Node::addFactory(className, new KOLV::NodeFactory<T>(className));
}

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("VEVOVU", "9497", "3.3.0");
    registerNode<BinauralMultisourceLocalization>("BinauralMultisourceLocalization");
    registerNode<BinauralMultisourceTracker>("BinauralMultisourceTracker");
    registerNode<SSLvisualization>("SSLvisualization");
    registerNode<KOLV::SourceSeparation>("SourceSeparation");
    registerNode<SpectrumVisualization>("SpectrumVisualization");
    registerNode<SpeechEnhancement>("SpeechEnhancement");
    registerNode<VADvisualization>("VADvisualization");
    registerNode<VoiceActivityDetection>("VoiceActivityDetection");
    registerNode<WaveVisualization>("WaveVisualization");
  }
};

ToolboxRegistration registration;

}  // namespace
