// Recordings and results held in memory instead of files, for programs that
// run networks in their own process (the Python module). While streams are
// installed, each WaveSource reads the recording given for its node name
// instead of its FILE, and every sink (WaveSink, SourceTable, SpeechTable,
// ObjectWriter) writes into its node's entry instead of its FILE: the files
// are neither read nor created.
#ifndef KOLV_HOST_MEMORY_STREAMS_H
#define KOLV_HOST_MEMORY_STREAMS_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AudioInput.h"

namespace KOLV::host {

// A recording held by the program that installs the streams: interleaved
// samples (frames x channels, row-major), int16 on the 16-bit scale or floats
// on the ±1 scale, brought to kolv's 16-bit scale as they are read.
struct MemoryRecording {
  enum class SampleType { Int16, Float32, Float64 };
  const void *samples = nullptr;  // must outlive the run
  SampleType type = SampleType::Int16;
  long long frames = 0;
  int channels = 0;
  int sampleRate = 0;
};

// What a WaveSink writes: the 16-bit samples of its file, interleaved.
struct MemoryAudio {
  std::vector<int16_t> samples;
  int channels = 0;
  int sampleRate = 0;
};

struct MemoryStreams {
  std::map<std::string, MemoryRecording> recordings;  // by WaveSource node name
  std::map<std::string, MemoryAudio> audio;          // by WaveSink node name
  std::map<std::string, std::string> text;           // by CSV or object sink node name
};

// The installed streams, or null while nodes use their files.
MemoryStreams *memoryStreams();
// Makes nodes built from now on use `streams` (null: their files again).
void installMemoryStreams(MemoryStreams *streams);

// Reads `recording` (which must outlive the input) as an audio file.
std::unique_ptr<AudioInput> openRecording(const MemoryRecording &recording);

}  // namespace KOLV::host

#endif
