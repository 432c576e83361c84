// Registration of the second toolbox: the nodes that go beyond the binaural
// toolbox's nine (adaptive noise tracking, online separation, tracking with
// lasting ids, localization on the measured head), each a drop-in for the
// node of the first toolbox it improves on.
#include "AdaptiveSpeechEnhancement.h"
#include "AdaptiveVoiceActivityDetection.h"
#include "Node.h"
#include "Object.h"
#include "OnlineSourceSeparation.h"
#include "RobustBinauralLocalization.h"
#include "SourceTracker.h"

namespace {

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("binaural-plus", "1", "0.1.0");
    KOLV::registerNodeType<AdaptiveSpeechEnhancement>("AdaptiveSpeechEnhancement");
    KOLV::registerNodeType<AdaptiveVoiceActivityDetection>("AdaptiveVoiceActivityDetection");
    KOLV::registerNodeType<OnlineSourceSeparation>("OnlineSourceSeparation");
    KOLV::registerNodeType<RobustBinauralLocalization>("RobustBinauralLocalization");
    KOLV::registerNodeType<SourceTracker>("SourceTracker");
  }
};

ToolboxRegistration registration;

}  // namespace
