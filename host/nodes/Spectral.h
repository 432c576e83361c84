// Short-time Fourier analysis and weighted overlap-add synthesis of one
// channel, on FFTW single-precision plans made once.
#ifndef KOLV_HOST_SPECTRAL_H
#define KOLV_HOST_SPECTRAL_H

#include <fftw3.h>

#include <complex>
#include <string>
#include <vector>

namespace KOLV::host {

// The window names the STFT and ISTFT nodes accept, for error messages.
extern const char *const kWindowNames;

// The periodic window `name` ("HANN", "HAMMING" or "RECTANGLE") of `length`
// samples; throws std::invalid_argument for another name.
std::vector<float> makeWindow(const std::string &name, int length);

// X[k] = sum_n w[n] x[n] exp(-j 2 pi k n / L), k = 0 .. L/2.
class SpectrumAnalyzer {
 public:
  explicit SpectrumAnalyzer(std::vector<float> window);
  ~SpectrumAnalyzer();
  SpectrumAnalyzer(const SpectrumAnalyzer &) = delete;
  SpectrumAnalyzer &operator=(const SpectrumAnalyzer &) = delete;

  int length() const { return length_; }
  int bins() const { return length_ / 2 + 1; }
  // `signal` holds length() samples, `spectrum` receives bins() values.
  void analyze(const float *signal, std::complex<float> *spectrum);

 private:
  int length_;
  std::vector<float> window_;
  float *frame_;
  fftwf_complex *bins_;
  fftwf_plan plan_;
};

// Inverts frames of SpectrumAnalyzer: each frame is transformed back,
// weighted by the synthesis window and added at its place; a sample is
// divided by the sum of the squared windows of the frames covering it. After
// frame t, samples t*ADVANCE .. t*ADVANCE + ADVANCE - 1 are finished.
class OverlapAdder {
 public:
  OverlapAdder(std::vector<float> window, int advance);
  ~OverlapAdder();
  OverlapAdder(const OverlapAdder &) = delete;
  OverlapAdder &operator=(const OverlapAdder &) = delete;

  int length() const { return length_; }
  int bins() const { return length_ / 2 + 1; }
  // Adds the next frame's `spectrum` (bins() values) and writes the
  // advance() finished samples into `finished`.
  void synthesize(const std::complex<float> *spectrum, float *finished);

 private:
  int length_;
  int advance_;
  std::vector<float> window_;
  // Below this sum of squared windows a sample counts as partly covered: it
  // is divided by the floor instead, so the first samples of a stream under
  // a tapering window fade in rather than amplify what a node changed.
  float normFloor_;
  std::vector<float> sum_;   // weighted samples still open, from the next unfinished one
  std::vector<float> norm_;  // their sums of squared windows
  float *frame_;
  fftwf_complex *bins_;
  fftwf_plan plan_;
};

}  // namespace KOLV::host

#endif
