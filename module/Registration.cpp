// Registration of the binaural toolbox: loading the library records its
// version and makes each node type known to the framework by name.
#include "Node.h"
#include "Object.h"
#include "SourceSeparation.h"

namespace {

struct ToolboxRegistration {
  ToolboxRegistration() {
    KOLV::Object::setModuleVersion("VEVOVU", "9497", "3.3.0");
    KOLV::Node::addFactory("SourceSeparation",
                           new KOLV::NodeFactory<KOLV::SourceSeparation>("SourceSeparation"));
  }
};

ToolboxRegistration registration;

}  // namespace
