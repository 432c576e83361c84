#include "FrameworkNodes.h"

#include "ISTFT.h"
#include "Node.h"
#include "ObjectReader.h"
#include "ObjectWriter.h"
#include "STFT.h"
#include "SourceTable.h"
#include "SpeechTable.h"
#include "WaveSink.h"
#include "WaveSource.h"

namespace KOLV::host {

namespace {
template <class T>
void registerNode(const char *name) {
  Node::addFactory(name, new NodeFactory<T>(name));
}
}  // namespace

void registerFrameworkNodes() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  registerNode<WaveSource>("WaveSource");
  registerNode<STFT>("STFT");
  registerNode<ISTFT>("ISTFT");
  registerNode<WaveSink>("WaveSink");
  registerNode<ObjectReader>("ObjectReader");
  registerNode<ObjectWriter>("ObjectWriter");
  registerNode<SourceTable>("SourceTable");
  registerNode<SpeechTable>("SpeechTable");
}

}  // namespace KOLV::host
