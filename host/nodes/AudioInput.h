// Streamed reading of audio files as interleaved samples on the 16-bit scale.
// Files go through libsndfile; standard input is parsed as a RIFF/WAVE stream
// as it arrives, since a pipe cannot seek and streaming tools leave the data
// size at 0 or 0xFFFFFFFF.
#ifndef KOLV_HOST_AUDIO_INPUT_H
#define KOLV_HOST_AUDIO_INPUT_H

#include <cstddef>
#include <cstdio>
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
  // After the end of the stream: why it ended short of what its header
  // promised (inside a sample frame, or before the declared data size), or ""
  // when it ended where it should.
  virtual std::string truncation() const { return ""; }
  // Sample frames the input holds, or -1 when it does not say (a stream).
  virtual long long frames() const { return -1; }
  // A live input (a sound card, standard input) gives samples as they come:
  // readers take what is there rather than wait for a whole block.
  virtual bool isLive() const { return false; }

  // Makes reads that wait for input (a stalled stream, a sound card) end
  // the stream instead of waiting on. Safe in a signal handler.
  static void interruptReads();
  static bool readsInterrupted();

  // Opens `path`, or standard input for "-". Throws std::runtime_error with
  // the reason when the file is missing, unreadable or not audio.
  static std::unique_ptr<AudioInput> open(const std::string &path);
  // Captures from the ALSA device `device` ("default", "hw:1", a PCM of an
  // asoundrc) at `rate` with `channels`, `period` sample frames at a time.
  static std::unique_ptr<AudioInput> openCapture(const std::string &device, int rate,
                                                 int channels, int period);
  // Reads an audio file held in memory (`size` bytes at `data`, which must
  // outlive the input), as open() reads a file.
  static std::unique_ptr<AudioInput> openMemory(const unsigned char *data, size_t size);
  // Parses a RIFF/WAVE stream from `in` front to back, never seeking; closes
  // `in` at the end when `owned`.
  static std::unique_ptr<AudioInput> openStream(FILE *in, bool owned);
};

}  // namespace KOLV::host

#endif
