#include "ChannelSelector.h"

#include <algorithm>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"
#include "StreamParameters.h"

namespace KOLV::host {

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &channel =
      add(intParameter("CHANNEL", "", "the channel to pass on, from 0").atLeast(0));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &ChannelSelector::description() {
  static const NodeDescription d{"Passes on one channel of a multichannel time signal",
                                 {{"AUDIO", "Matrix<float>", "channels x samples"}},
                                 {{"AUDIO", "Matrix<float>", "1 x samples: the chosen channel"}},
                                 declared().entries(),
                                 true};
  return d;
}

ChannelSelector::ChannelSelector(std::string nodeName, ParameterSet params)
    : BufferedNode(nodeName, params) {
  inputID_ = addInput("AUDIO");
  outputID_ = addOutput("AUDIO");
  channel_ = declared().channel.readInt(parameters);
  if (channel_ < 0)
    KOLV_NODE_ERROR(getName(), "CHANNEL is " + std::to_string(channel_) + "; channels count from 0");
  processInOrder = true;
}

void ChannelSelector::calculate(int, int count, Buffer &out) {
  auto audio = typedInput<Matrix<float>>(*this, inputID_, count);
  if (channel_ >= audio->nrows())
    KOLV_NODE_ERROR(getName(), "CHANNEL " + std::to_string(channel_) + " asked of a signal of " +
                                   std::to_string(audio->nrows()) + " channels at frame " +
                                   std::to_string(count));
  RCPtr<Matrix<float>> channel(new Matrix<float>(1, audio->ncols()));
  std::copy_n(audio->row(channel_), audio->ncols(), channel->row(0));
  out[count] = channel;
}

}  // namespace KOLV::host
