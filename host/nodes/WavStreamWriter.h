// A 16-bit PCM WAV stream written front to back, never seeking: the header
// leaves the sizes open (0xFFFFFFFF), as streaming tools write them, so a pipe
// can carry it and any WAV stream reader (kolv's own included) reads it as it
// arrives.
#ifndef KOLV_HOST_WAV_STREAM_WRITER_H
#define KOLV_HOST_WAV_STREAM_WRITER_H

#include <cstdint>
#include <cstdio>
#include <vector>

namespace KOLV::host {

class WavStreamWriter {
 public:
  // Writes the header to `out`, which the writer then owns.
  WavStreamWriter(FILE *out, int sampleRate, int channels);
  ~WavStreamWriter();
  WavStreamWriter(const WavStreamWriter &) = delete;
  WavStreamWriter &operator=(const WavStreamWriter &) = delete;

  // Writes `frames` interleaved sample frames and passes them on at once.
  // Throws std::runtime_error when the stream cannot take them (a closed pipe).
  void write(const int16_t *interleaved, long frames);
  // Flushes and closes the stream; throws like write().
  void close();

 private:
  void check(bool ok);

  FILE *out_;
  int channels_;
  std::vector<unsigned char> bytes_;
};

// Takes standard output for a WAV stream: the returned stream is the
// process's standard output, and whatever else is printed there from now on
// goes to standard error, so nothing can corrupt the stream. Null if
// standard output was taken before.
FILE *takeStandardOutput();

}  // namespace KOLV::host

#endif
