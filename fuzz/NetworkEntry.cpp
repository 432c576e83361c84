// Arbitrary bytes through the network loader, with the node types kolv has:
// the toolboxes beside the program and the framework's own nodes. The nodes
// that read or write files are replaced by stand-ins with the same ports and
// parameter table, so the loader's checks see them but no file is touched;
// every other node's constructor sees the fuzzed parameters. No frame runs.
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "EntryPoints.h"
#include "GenericType.h"
#include "nodes/ISTFT.h"
#include "Network.h"
#include "Node.h"
#include "nodes/ObjectReader.h"
#include "nodes/ObjectWriter.h"
#include "nodes/STFT.h"
#include "nodes/SourceTable.h"
#include "nodes/SpeechTable.h"
#include "ToolboxLoader.h"
#include "nodes/WaveSink.h"
#include "nodes/WaveSource.h"

namespace kolvfuzz {

namespace {

using namespace KOLV;

// A node with the ports and parameters of `FileNode`, reading its parameters
// as the real one does but opening nothing.
template <class FileNode>
class WithoutFiles : public BufferedNode {
 public:
  WithoutFiles(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
    for (const PortInfo &port : description().inputs) addInput(port.name);
    for (const PortInfo &port : description().outputs) addOutput(port.name);
    for (const ParameterInfo &p : description().parameters) readParameter(p);
    processInOrder = true;
  }
  static const NodeDescription &description() { return FileNode::description(); }
  void calculate(int, int, Buffer &) override {
    throw std::logic_error("the network fuzzer runs no frame");
  }

 private:
  void readParameter(const ParameterInfo &p) {
    switch (p.type) {
      case ValueType::Int:
        p.readInt(parameters);
        break;
      case ValueType::Float:
        p.readFloat(parameters);
        break;
      case ValueType::String:
        p.readString(parameters);
        break;
    }
  }
};

void registerNodeTypes() {
  // Display nodes open no window without a display.
  unsetenv("DISPLAY");
  static host::ToolboxLoader loader;
  loader.loadAll(host::ToolboxLoader::searchFolders({}));
  registerNodeType<host::STFT>("STFT");
  registerNodeType<host::ISTFT>("ISTFT");
  registerNodeType<WithoutFiles<host::WaveSource>>("WaveSource");
  registerNodeType<WithoutFiles<host::WaveSink>>("WaveSink");
  registerNodeType<WithoutFiles<host::ObjectReader>>("ObjectReader");
  registerNodeType<WithoutFiles<host::ObjectWriter>>("ObjectWriter");
  registerNodeType<WithoutFiles<host::SourceTable>>("SourceTable");
  registerNodeType<WithoutFiles<host::SpeechTable>>("SpeechTable");
}

}  // namespace

void loadNetwork(const uint8_t *data, size_t size) {
  static const bool registered = (registerNodeTypes(), true);
  (void)registered;
  try {
    host::Network::parse(std::string(reinterpret_cast<const char *>(data), size), "fuzzed.yaml");
  } catch (host::NetworkError &) {
  }
}

}  // namespace kolvfuzz
