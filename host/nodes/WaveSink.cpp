#include "WaveSink.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"
#include "OutputPath.h"
#include "StreamParameters.h"
#include "WavStreamWriter.h"

namespace KOLV::host {

namespace {
constexpr float kMaxSample = 32767.0f;
constexpr float kMinSample = -32768.0f;
constexpr const char *kStandardOutput = "-";
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

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &file = add(fileParameter(
      "the WAV file to write (its folder is created); - writes a WAV stream to standard output"));
  const ParameterInfo &samplingRate =
      add(samplingRateParameter("sampling rate written in the header"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &WaveSink::description() {
  static const NodeDescription d{
      "Writes frames of samples to a 16-bit PCM WAV file, clipping to the 16-bit range",
      {{"AUDIO", "Matrix<float>", "channels x samples on the 16-bit scale"}},
      {},
      declared().entries()};
  return d;
}

WaveSink::WaveSink(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  audioID_ = addInput("AUDIO");
  file_ = outputPath(declared().file.readString(parameters));
  sampleRate_ = declared().samplingRate.readInt(parameters);
  processInOrder = true;
  if (sampleRate_ < 1)
    KOLV_NODE_ERROR(getName(),
                    "SAMPLING_RATE must be positive, not " + std::to_string(sampleRate_));
  if (file_ == kStandardOutput) {
    // Taken now, before any other node prints: nothing else may reach the stream.
    standardOutput_ = takeStandardOutput();
    if (!standardOutput_)
      KOLV_NODE_ERROR(getName(), "FILE -: standard output is taken by another WAV stream");
    return;
  }
  std::filesystem::path parent = std::filesystem::path(file_).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  if (error)
    KOLV_NODE_ERROR(getName(),
                    "cannot create the folder of FILE '" + file_ + "': " + error.message());
}

WaveSink::~WaveSink() {
  close();
  if (standardOutput_) std::fclose(standardOutput_);
}

void WaveSink::open(int channels) {
  channels_ = channels;
  if (standardOutput_) {
    FILE *out = standardOutput_;
    standardOutput_ = nullptr;
    try {
      stream_ = std::make_unique<WavStreamWriter>(out, sampleRate_, channels);
    } catch (std::exception &e) {
      KOLV_NODE_ERROR(getName(), std::string("writing to standard output failed: ") + e.what());
    }
    return;
  }
  SF_INFO info{};
  info.samplerate = sampleRate_;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  sndfile_ = sf_open(file_.c_str(), SFM_WRITE, &info);
  if (!sndfile_)
    KOLV_NODE_ERROR(getName(), "cannot write FILE '" + file_ + "' with " +
                                   std::to_string(channels) + " channels: " + sf_strerror(nullptr));
}

void WaveSink::close() {
  if (sndfile_) sf_close(sndfile_);
  sndfile_ = nullptr;
  stream_.reset();
}

// Closing writes the final sizes into the header (or flushes the stream): a
// failure there leaves the file unusable, so it is an error.
void WaveSink::closeChecked() {
  if (stream_) {
    try {
      stream_->close();
    } catch (std::exception &e) {
      stream_.reset();
      KOLV_NODE_ERROR(getName(), std::string("writing to standard output failed: ") + e.what());
    }
    stream_.reset();
  }
  if (!sndfile_) return;
  SNDFILE *file = sndfile_;
  sndfile_ = nullptr;
  if (sf_close(file) != 0)
    KOLV_NODE_ERROR(getName(), "finishing FILE '" + file_ + "' failed: " + std::strerror(errno));
}

void WaveSink::calculate(int, int count, Buffer &) {
  auto audio = typedInput<Matrix<float>>(*this, audioID_, count);
  if (!sndfile_ && !stream_) open(audio->nrows());
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
  if (stream_) {
    try {
      stream_->write(interleaved_.data(), samples);
    } catch (std::exception &e) {
      KOLV_NODE_ERROR(getName(), std::string("writing to standard output failed: ") + e.what());
    }
    return;
  }
  if (sf_writef_short(sndfile_, interleaved_.data(), samples) != samples)
    KOLV_NODE_ERROR(getName(), "writing FILE '" + file_ + "' failed: " + sf_strerror(sndfile_));
}

void WaveSink::finish() {
  if (channels_ == 0) open(kChannelsWithoutFrames);
  closeChecked();
  if (quantizer_.clipped() > 0)
    std::cerr << "kolv: warning: node '" << getName() << "' clipped " << quantizer_.clipped()
              << " samples to the 16-bit range in " << file_ << '\n';
  if (quantizer_.notANumber() > 0)
    std::cerr << "kolv: warning: node '" << getName() << "' wrote " << quantizer_.notANumber()
              << " not-a-number samples as 0 in " << file_ << '\n';
}

}  // namespace KOLV::host
