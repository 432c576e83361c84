// Short-time spectrum of each frame of samples, one row per channel.
#ifndef KOLV_HOST_STFT_H
#define KOLV_HOST_STFT_H

#include <memory>
#include <string>

#include "Node.h"
#include "Spectral.h"

namespace KOLV::host {

class STFT : public BufferedNode {
 public:
  STFT(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  int audioID_;
  int spectrumID_;
  int length_;
  std::string window_;
  std::unique_ptr<SpectrumAnalyzer> analyzer_;
};

}  // namespace KOLV::host

#endif
