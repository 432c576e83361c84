// Whole-file WAV reading and 16-bit writing for the scene tools. Samples are
// doubles on the full scale of ±1 (a 16-bit sample s reads as s / 32768).
#ifndef KOLV_SCENEKIT_WAVFILE_H
#define KOLV_SCENEKIT_WAVFILE_H

#include <string>
#include <vector>

namespace scenekit {

struct Audio {
  int samplingRate = 0;                       // Hz
  std::vector<std::vector<double>> channels;  // one vector of samples per channel

  size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Throws std::runtime_error naming the file when it cannot be read as audio.
Audio readWav(const std::string &path);

// Writes 16-bit PCM, rounding to the nearest step; samples beyond full scale
// are clipped and counted. Returns the number of clipped samples.
size_t writeWav16(const std::string &path, const Audio &audio);

// Writes 32-bit floating point, for responses whose peaks may pass full
// scale and whose decay should keep its low levels.
void writeWavFloat(const std::string &path, const Audio &audio);

// The 16-bit value a sample is stored as.
short quantize16(double sample);

}  // namespace scenekit

#endif
