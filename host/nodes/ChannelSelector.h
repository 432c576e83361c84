// One channel of a multichannel time signal, so that each channel can go to a
// file of its own (for example each separated source).
#ifndef KOLV_HOST_CHANNEL_SELECTOR_H
#define KOLV_HOST_CHANNEL_SELECTOR_H

#include <string>

#include "Node.h"

namespace KOLV::host {

class ChannelSelector : public BufferedNode {
 public:
  ChannelSelector(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  int inputID_;
  int outputID_;
  int channel_;
};

}  // namespace KOLV::host

#endif
