// Capture from a sound card through ALSA, at the network's rate and channel
// count, a frame shift at a time so that no more than one frame is held back.
#ifndef KOLV_HOST_ALSA_INPUT_H
#define KOLV_HOST_ALSA_INPUT_H

#include <alsa/asoundlib.h>

#include <string>
#include <vector>

#include "AudioInput.h"

namespace KOLV::host {

class AlsaInput : public AudioInput {
 public:
  AlsaInput(const std::string &device, int rate, int channels, int period);
  ~AlsaInput() override;
  AlsaInput(const AlsaInput &) = delete;
  AlsaInput &operator=(const AlsaInput &) = delete;

  int channels() const override { return channels_; }
  int sampleRate() const override { return rate_; }
  bool isLive() const override { return true; }
  long read(float *interleaved, long frames) override;

 private:
  snd_pcm_t *pcm_ = nullptr;
  int rate_;
  int channels_;
  long period_;                 // sample frames read at a time
  std::vector<int16_t> block_;  // one period, interleaved
};

}  // namespace KOLV::host

#endif
