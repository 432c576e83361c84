#include "FrameworkNodes.h"

#include "ChannelSelector.h"
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
// The factories live as long as the process, like the registry that lists them.
template <class T>
void registerNode(const char *name) {
  static NodeFactory<T> factory(name);
  Node::addFactory(name, &factory);
}
}  // namespace

void registerFrameworkNodes() {
  registerNode<WaveSource>("WaveSource");
  registerNode<STFT>("STFT");
  registerNode<ISTFT>("ISTFT");
  registerNode<WaveSink>("WaveSink");
  registerNode<ChannelSelector>("ChannelSelector");
  registerNode<ObjectReader>("ObjectReader");
  registerNode<ObjectWriter>("ObjectWriter");
  registerNode<SourceTable>("SourceTable");
  registerNode<SpeechTable>("SpeechTable");
}

}  // namespace KOLV::host
