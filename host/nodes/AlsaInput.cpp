#include "AlsaInput.h"

#include <algorithm>
#include <stdexcept>

namespace KOLV::host {

namespace {

// Room for a few periods, so a busy machine does not overrun the card.
constexpr unsigned kBufferPeriods = 8;
constexpr int kWaitMilliseconds = 100;

void check(int result, const std::string &what) {
  if (result < 0) throw std::runtime_error(what + ": " + snd_strerror(result));
}

}  // namespace

AlsaInput::AlsaInput(const std::string &device, int rate, int channels, int period)
    : rate_(rate), channels_(channels), period_(period) {
  check(snd_pcm_open(&pcm_, device.c_str(), SND_PCM_STREAM_CAPTURE, 0),
        "cannot open the capture device '" + device + "'");
  snd_pcm_hw_params_t *hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  try {
    check(snd_pcm_hw_params_any(pcm_, hw), "no configuration");
    check(snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED),
          "no interleaved access");
    check(snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE), "no 16-bit samples");
    check(snd_pcm_hw_params_set_channels(pcm_, hw, static_cast<unsigned>(channels)),
          "cannot capture " + std::to_string(channels) + " channels");
    unsigned exactRate = static_cast<unsigned>(rate);
    check(snd_pcm_hw_params_set_rate_near(pcm_, hw, &exactRate, nullptr),
          "cannot capture at " + std::to_string(rate) + " Hz");
    rate_ = static_cast<int>(exactRate);
    snd_pcm_uframes_t periodFrames = static_cast<snd_pcm_uframes_t>(period);
    snd_pcm_hw_params_set_period_size_near(pcm_, hw, &periodFrames, nullptr);
    snd_pcm_uframes_t bufferFrames = periodFrames * kBufferPeriods;
    snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &bufferFrames);
    check(snd_pcm_hw_params(pcm_, hw), "cannot set the capture parameters");
  } catch (...) {
    snd_pcm_close(pcm_);
    throw;
  }
  block_.resize(static_cast<size_t>(period_) * channels_);
}

AlsaInput::~AlsaInput() { snd_pcm_close(pcm_); }

long AlsaInput::read(float *interleaved, long frames) {
  const long wanted = std::min(frames, period_);
  for (;;) {
    if (readsInterrupted()) return 0;
    // Waits a little at a time, so that a stop is seen while the card is silent.
    if (snd_pcm_wait(pcm_, kWaitMilliseconds) == 0) continue;
    snd_pcm_sframes_t got = snd_pcm_readi(pcm_, block_.data(), static_cast<snd_pcm_uframes_t>(wanted));
    if (got == -EAGAIN || got == -EINTR) continue;
    // An overrun (the machine fell behind): start capturing again.
    if (got == -EPIPE || got == -ESTRPIPE) {
      check(snd_pcm_recover(pcm_, static_cast<int>(got), 1), "cannot recover the capture");
      continue;
    }
    check(static_cast<int>(got), "capture failed");
    const long samples = static_cast<long>(got) * channels_;
    for (long i = 0; i < samples; ++i) interleaved[i] = static_cast<float>(block_[i]);
    return static_cast<long>(got);
  }
}

std::unique_ptr<AudioInput> AudioInput::openCapture(const std::string &device, int rate,
                                                     int channels, int period) {
  return std::make_unique<AlsaInput>(device, rate, channels, period);
}

}  // namespace KOLV::host
