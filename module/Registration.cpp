// Registration of the binaural toolbox: loading the library records its
// version and makes each node type known to the framework by name.
#include "BinauralMultisourceLocalization.h"
#include "BinauralMultisourceTracker.h"
#include "Node.h"
#include "Object.h"

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
  }
};

ToolboxRegistration registration;

}  // namespace
