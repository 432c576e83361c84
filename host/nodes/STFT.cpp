#include "STFT.h"

#include <stdexcept>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"
#include "StreamParameters.h"

namespace KOLV::host {

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &length =
      add(lengthParameter("transform length, the frame length of AUDIO"));
  const ParameterInfo &window = add(windowParameter("analysis window (periodic)"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &STFT::description() {
  static const NodeDescription d{
      "Short-time Fourier transform of each frame: X[k] = sum w[n] x[n] exp(-j2pi kn/LENGTH)",
      {{"AUDIO", "Matrix<float>", "channels x LENGTH samples"}},
      {{"SPECTRUM", "Matrix<complex<float>>",
        "channels x (LENGTH/2 + 1) bins, 0 to half the rate"}},
      declared().entries()};
  return d;
}

STFT::STFT(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  audioID_ = addInput("AUDIO");
  spectrumID_ = addOutput("SPECTRUM");
  const Parameters &p = declared();
  length_ = p.length.readInt(parameters);
  window_ = p.window.readString(parameters);
  processInOrder = true;
  if (length_ < 2)
    KOLV_NODE_ERROR(getName(), "LENGTH must be at least 2 samples, not " + std::to_string(length_));
  try {
    analyzer_ = std::make_unique<SpectrumAnalyzer>(makeWindow(window_, length_));
  } catch (std::invalid_argument &e) {
    KOLV_NODE_ERROR(getName(), std::string("WINDOW: ") + e.what());
  }
}

void STFT::calculate(int, int count, Buffer &out) {
  auto audio = typedInput<Matrix<float>>(*this, audioID_, count);
  if (audio->ncols() != length_)
    KOLV_NODE_ERROR(getName(), "input AUDIO has " + std::to_string(audio->ncols()) +
                                   " samples per frame, LENGTH is " + std::to_string(length_));
  RCPtr<Matrix<std::complex<float>>> spectrum(
      new Matrix<std::complex<float>>(audio->nrows(), analyzer_->bins()));
  for (int c = 0; c < audio->nrows(); ++c) analyzer_->analyze(audio->row(c), spectrum->row(c));
  out[count] = spectrum;
}

}  // namespace KOLV::host
