// Streamed reading of audio files as interleaved samples on the 16-bit scale.
// Files go through libsndfile; standard input is parsed as a RIFF/WAVE stream
// as it arrives, since a pipe cannot seek and streaming tools leave the data
// size at 0 or 0xFFFFFFFF.
#ifndef KOLV_HOST_AUDIO_INPUT_H
#define KOLV_HOST_AUDIO_INPUT_H

#include <memory>
#include <string>

namespace KOLV::host {

class AudioInput {
 public:
  virtual ~AudioInput() = default;
  virtual int channels() const = 0;
  virtual int sampleRate() const = 0;
  // Reads up to `frames` sample frames (one sample per channel each) into
  // `interleaved`, scaled so that full scale is ±32768; returns how many were
  // read, 0 at the end of the stream. Throws std::runtime_error on a read error.
  virtual long read(float *interleaved, long frames) = 0;

  // Opens `path`, or standard input for "-". Throws std::runtime_error with
  // the reason when the file is missing, unreadable or not audio.
  static std::unique_ptr<AudioInput> open(const std::string &path);
};

}  // namespace KOLV::host

#endif
