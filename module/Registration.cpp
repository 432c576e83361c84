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

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("VEVOVU", "9497", "3.3.0");
    KOLV::registerNodeType<BinauralMultisourceLocalization>("BinauralMultisourceLocalization");
    KOLV::registerNodeType<BinauralMultisourceTracker>("BinauralMultisourceTracker");
    KOLV::registerNodeType<SSLvisualization>("SSLvisualization");
    KOLV::registerNodeType<KOLV::SourceSeparation>("SourceSeparation");
    KOLV::registerNodeType<SpectrumVisualization>("SpectrumVisualization");
    KOLV::registerNodeType<SpeechEnhancement>("SpeechEnhancement");
    KOLV::registerNodeType<VADvisualization>("VADvisualization");
    KOLV::registerNodeType<VoiceActivityDetection>("VoiceActivityDetection");
    KOLV::registerNodeType<WaveVisualization>("WaveVisualization");
  }
};

ToolboxRegistration registration;

}  // namespace
