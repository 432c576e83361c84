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

void registerFrameworkNodes() {
  registerNodeType<WaveSource>("WaveSource");
  registerNodeType<STFT>("STFT");
  registerNodeType<ISTFT>("ISTFT");
  registerNodeType<WaveSink>("WaveSink");
  registerNodeType<ChannelSelector>("ChannelSelector");
  registerNodeType<ObjectReader>("ObjectReader");
  registerNodeType<ObjectWriter>("ObjectWriter");
  registerNodeType<SourceTable>("SourceTable");
  registerNodeType<SpeechTable>("SpeechTable");
}

}  // namespace KOLV::host
