// SourceSeparation: block-wise blind separation of a multichannel spectrum by
// independent vector analysis, with projection back onto the microphones.
#ifndef KOLV_SOURCE_SEPARATION_H
#define KOLV_SOURCE_SEPARATION_H

#include <complex>
#include <memory>
#include <string>

#include "BlockSeparator.h"
#include "GenericType.h"
#include "Matrix.h"
#include "Node.h"

namespace KOLV {

class SourceSeparation : public BufferedNode {
 public:
  SourceSeparation(std::string nodeName, ParameterSet params);
  ~SourceSeparation() override;

  static const NodeDescription &description();

  void calculate(int output_id, int count, Buffer &out) override;

  // T, the block length in frames.
  int framesPerBlock() const { return blockFrames; }

 private:
  using Spectrum = Matrix<std::complex<float>>;

  int computeBlockFrames() const;
  // Throws the node's error: its name, the frame (when not negative) and the
  // problem.
  [[noreturn]] void fail(const std::string &problem, int frame = -1) const;
  void separateBlock(int first, const Spectrum &firstFrame);
  void checkBlockShape(int first, const Spectrum &firstFrame) const;
  // Fills the separator's block; returns what makes the block unusable (its
  // first non-finite value), or "".
  std::string readBlock(int first, int channels, int columns);
  void checkFrameShape(int frame, const Spectrum &spectrum, int channels, int columns) const;
  static std::string nonFiniteValue(int frame, const Spectrum &spectrum, int channels,
                                    int columns);
  void silenceBlock(int first, const std::string &reason) const;
  void writeBlock(int first);

  int inputID;
  int outputID;
  String iterationMethod;
  int numSources;
  float separationTimeLength;  // s
  int maxIteration;
  int advance;       // samples
  int samplingRate;  // Hz
  int blockFrames;   // T
  std::unique_ptr<separation::BlockSeparator> separator;
};

}  // namespace KOLV

#endif
