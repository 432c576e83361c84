// Registration of the binaural toolbox: loading the library records its
// version and makes each node type known to the framework by name.
#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "Node.h"
#include "Object.h"
#include "SSLvisualization.h"
#include "SpectrumVisualization.h"
#include "VADvisualization.h"
#include "WaveVisualization.h"

namespace {

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("VEVOVU", "9497", "3.3.0");
    KOLV::Node::addFactory("BinauralMultisourceLocalization",
                           new KOLV::NodeFactory<BinauralMultisourceLocalization>(
                               "BinauralMultisourceLocalization"));
    KOLV::Node::addFactory("BinauralMultisourceTracker",
                           new KOLV::NodeFactory<BinauralMultisourceTracker>(
                               "BinauralMultisourceTracker"));
    KOLV::Node::addFactory("SSLvisualization",
                           new KOLV::NodeFactory<SSLvisualization>("SSLvisualization"));
    KOLV::Node::addFactory("SpectrumVisualization",
                           new KOLV::NodeFactory<SpectrumVisualization>("SpectrumVisualization"));
    KOLV::Node::addFactory("VADvisualization",
                           new KOLV::NodeFactory<VADvisualization>("VADvisualization"));
    KOLV::Node::addFactory("WaveVisualization",
                           new KOLV::NodeFactory<WaveVisualization>("WaveVisualization"));
  }
};

ToolboxRegistration registration;

}  // namespace
