#include "WaveSink.h"

#include <cmath>
#include <filesystem>
#include <iostream>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"

namespace KOLV::host {

namespace {
constexpr float kMaxSample = 32767.0f;
constexpr float kMinSample = -32768.0f;
// A file that gets no frame at all still becomes a valid (empty) WAV.
constexpr int kChannelsWithoutFrames = 1;
}  // namespace

void PcmQuantizer::quantize(const float *in, int16_t *out, long n) {
  for (long i = 0; i < n; ++i) {
    float v = in[i];
    if (std::isnan(v)) {
      ++notANumber_;
      v = 0.0f;
    } else if (v > kMaxSample || v < kMinSample) {
      ++clipped_;
      v = v > kMaxSample ? kMaxSample : kMinSample;
    }
    out[i] = static_cast<int16_t>(std::lrint(v));
  }
}

const NodeDescription &WaveSink::description() {
  static const NodeDescription d{
      "Writes frames of samples to a 16-bit PCM WAV file, clipping to the 16-bit range",
      {{"AUDIO", "Matrix<float>", "channels x samples on the 16-bit scale"}},
      {},
      {{"FILE", ValueType::String, "", "the WAV file to write (its folder is created)"},
       {"SAMPLING_RATE", ValueType::Int, "Hz", "sampling rate written in the header"}}};
  return d;
}

WaveSink::WaveSink(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  audioID_ = addInput("AUDIO");
  file_ = dereference_cast<String>(parameters.get("FILE"));
  sampleRate_ = dereference_cast<int>(parameters.get("SAMPLING_RATE"));
  processInOrder = true;
  if (sampleRate_ < 1)
    KOLV_NODE_ERROR(getName(),
                    "SAMPLING_RATE must be positive, not " + std::to_string(sampleRate_));
  std::filesystem::path parent = std::filesystem::path(file_).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  if (error)
    KOLV_NODE_ERROR(getName(),
                    "cannot create the folder of FILE '" + file_ + "': " + error.message());
}

WaveSink::~WaveSink() { close(); }

void WaveSink::open(int channels) {
  SF_INFO info{};
  info.samplerate = sampleRate_;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  sndfile_ = sf_open(file_.c_str(), SFM_WRITE, &info);
  if (!sndfile_)
    KOLV_NODE_ERROR(getName(), "cannot write FILE '" + file_ + "' with " +
                                   std::to_string(channels) + " channels: " + sf_strerror(nullptr));
  channels_ = channels;
}

void WaveSink::close() {
  if (sndfile_) sf_close(sndfile_);
  sndfile_ = nullptr;
}

void WaveSink::calculate(int, int count, Buffer &) {
  auto audio = typedInput<Matrix<float>>(*this, audioID_, count);
  if (!sndfile_) open(audio->nrows());
  if (audio->nrows() != channels_)
    KOLV_NODE_ERROR(getName(), "input AUDIO has " + std::to_string(audio->nrows()) +
                                   " channels, the file was started with " +
                                   std::to_string(channels_));
  int samples = audio->ncols();
  std::vector<float> frame(static_cast<size_t>(samples) * channels_);
  for (int n = 0; n < samples; ++n)
    for (int c = 0; c < channels_; ++c)
      frame[static_cast<size_t>(n) * channels_ + c] = (*audio)(c, n);
  interleaved_.resize(frame.size());
  quantizer_.quantize(frame.data(), interleaved_.data(), static_cast<long>(frame.size()));
  if (sf_writef_short(sndfile_, interleaved_.data(), samples) != samples)
    KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed: " + sf_strerror(sndfile_));
}

void WaveSink::finish() {
  if (!sndfile_ && channels_ == 0) open(kChannelsWithoutFrames);
  close();
  if (quantizer_.clipped() > 0)
    std::cerr << "kolv: warning: node '" << getName() << "' clipped " << quantizer_.clipped()
              << " samples to the 16-bit range in " << file_ << '\n';
  if (quantizer_.notANumber() > 0)
    std::cerr << "kolv: warning: node '" << getName() << "' wrote " << quantizer_.notANumber()
              << " not-a-number samples as 0 in " << file_ << '\n';
}

}  // namespace KOLV::host
