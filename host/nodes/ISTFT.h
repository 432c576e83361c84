// Time signal back from short-time spectra by weighted overlap-add: each
// frame yields the ADVANCE samples it finishes, with no delay.
#ifndef KOLV_HOST_ISTFT_H
#define KOLV_HOST_ISTFT_H

#include <memory>
#include <string>
#include <vector>

#include "Node.h"
#include "Spectral.h"

namespace KOLV::host {

class ISTFT : public BufferedNode {
 public:
  ISTFT(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  void makeChannels(int channels);

  int spectrumID_;
  int audioID_;
  int length_;
  int advance_;
  std::string window_;
  std::vector<float> windowValues_;
  std::vector<std::unique_ptr<OverlapAdder>> channels_;  // one per channel, from frame 0
};

}  // namespace KOLV::host

#endif
