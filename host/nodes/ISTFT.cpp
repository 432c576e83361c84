#include "ISTFT.h"

#include <stdexcept>

#include "GenericType.h"
#include "Matrix.h"
#include "NodeError.h"
#include "StreamParameters.h"

namespace KOLV::host {

namespace {

struct Parameters : ParameterTable {
  const ParameterInfo &length = add(lengthParameter("transform length"));
  const ParameterInfo &advance = add(advanceParameter("shift between frames, 1 to LENGTH"));
  const ParameterInfo &window = add(windowParameter("synthesis window"));
};

const Parameters &declared() {
  static const Parameters table;
  return table;
}

}  // namespace

const NodeDescription &ISTFT::description() {
  static const NodeDescription d{
      "Inverse short-time Fourier transform by weighted overlap-add (no delay)",
      {{"SPECTRUM", "Matrix<complex<float>>", "channels x (LENGTH/2 + 1) bins"}},
      {{"AUDIO", "Matrix<float>", "channels x ADVANCE finished samples"}},
      declared().entries(),
      false,
      true};
  return d;
}

ISTFT::ISTFT(std::string nodeName, ParameterSet params) : BufferedNode(nodeName, params) {
  spectrumID_ = addInput("SPECTRUM");
  audioID_ = addOutput("AUDIO");
  const Parameters &p = declared();
  length_ = p.length.readInt(parameters);
  advance_ = p.advance.readInt(parameters);
  window_ = p.window.readString(parameters);
  processInOrder = true;
  if (length_ < 2)
    KOLV_NODE_ERROR(getName(), "LENGTH must be at least 2 samples, not " + std::to_string(length_));
  if (advance_ < 1 || advance_ > length_)
    KOLV_NODE_ERROR(getName(), "ADVANCE must be between 1 and LENGTH (" + std::to_string(length_) +
                                   "), not " + std::to_string(advance_));
  try {
    windowValues_ = makeWindow(window_, length_);
  } catch (std::invalid_argument &e) {
    KOLV_NODE_ERROR(getName(), std::string("WINDOW: ") + e.what());
  }
}

void ISTFT::makeChannels(int channels) {
  for (int c = 0; c < channels; ++c)
    channels_.push_back(std::make_unique<OverlapAdder>(windowValues_, advance_));
}

void ISTFT::calculate(int, int count, Buffer &out) {
  auto spectrum = typedInput<Matrix<std::complex<float>>>(*this, spectrumID_, count);
  int bins = length_ / 2 + 1;
  if (spectrum->ncols() != bins)
    KOLV_NODE_ERROR(getName(), "input SPECTRUM has " + std::to_string(spectrum->ncols()) +
                                   " bins, LENGTH " + std::to_string(length_) + " needs " +
                                   std::to_string(bins));
  if (channels_.empty()) makeChannels(spectrum->nrows());
  if (spectrum->nrows() != static_cast<int>(channels_.size()))
    KOLV_NODE_ERROR(getName(), "input SPECTRUM has " + std::to_string(spectrum->nrows()) +
                                   " channels, frame 0 had " + std::to_string(channels_.size()));
  RCPtr<Matrix<float>> audio(new Matrix<float>(spectrum->nrows(), advance_));
  for (int c = 0; c < spectrum->nrows(); ++c)
    channels_[c]->synthesize(spectrum->row(c), audio->row(c));
  out[count] = audio;
}

}  // namespace KOLV::host
