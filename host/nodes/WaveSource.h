// Reads an audio file (or a WAV stream on standard input) as overlapping
// frames of samples, streaming: only the samples that later frames still need
// are kept.
#ifndef KOLV_HOST_WAVE_SOURCE_H
#define KOLV_HOST_WAVE_SOURCE_H

#include <memory>
#include <string>
#include <vector>

#include "AudioInput.h"
#include "Node.h"

namespace KOLV::host {

// The samples of a stream from sample `first()` on, read as far as asked for.
class SampleWindow {
 public:
  explicit SampleWindow(std::unique_ptr<AudioInput> input);

  int channels() const { return channels_; }
  // Whether the stream holds sample `index` (reads up to it if needed).
  bool has(long long index);
  // Copies samples start .. start + length - 1 of each channel into the rows
  // of `out` (channels x length, row-major), zero past the end of the stream.
  void copy(long long start, int length, float *out);
  // Drops every sample before `index`.
  void release(long long index);
  // Once the end of the stream has been read: why it ended short of what its
  // header declares, or "" when it is whole.
  bool ended() const { return ended_; }
  std::string truncation() const { return input_->truncation(); }

 private:
  void readUpTo(long long end);

  std::unique_ptr<AudioInput> input_;
  int channels_;
  long long first_ = 0;         // stream index of samples_[0]
  std::vector<float> samples_;  // interleaved
  bool ended_ = false;
};

class WaveSource : public BufferedNode {
 public:
  WaveSource(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();

  bool frameExists(int count) override;
  void calculate(int output_id, int count, Buffer &out) override;
  void finish() override;

  int advance() const { return advance_; }
  // The network's rate, at which the frames come.
  int sampleRate() const { return sampleRate_; }
  int channels() const { return window_->channels(); }
  // The recording's length, or a negative number for a stream.
  double durationSeconds() const;
  // The recording as messages name it: 'FILE', standard input, ...
  std::string inputName() const;

 private:
  int audioID_;
  std::string file_;
  int length_;
  int advance_;
  int sampleRate_;
  int fileRate_;
  long long fileFrames_;  // of the recording at its own rate; -1 for a stream
  std::unique_ptr<SampleWindow> window_;
  bool truncationReported_ = false;

  void reportTruncation();
};

}  // namespace KOLV::host

#endif
