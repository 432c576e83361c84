// OnlineSourceSeparation: blind separation of two talkers, frame by frame,
// by auxiliary-function IVA on a sliding window of the stream (live, or with
// a look-ahead up to the whole recording), each talker kept on one output.
#ifndef KOLV_ONLINE_SOURCE_SEPARATION_H
#define KOLV_ONLINE_SOURCE_SEPARATION_H

#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "Matrix.h"
#include "Node.h"
#include "OnlineWpe.h"
#include "WindowedIva.h"

class OnlineSourceSeparation : public KOLV::BufferedNode {
 public:
  OnlineSourceSeparation(std::string nodeName, KOLV::ParameterSet params);
  ~OnlineSourceSeparation() override;

  static const KOLV::NodeDescription &description();

  void calculate(int output_id, int count, KOLV::Buffer &out) override;

  int lookAheadFrames() const { return lookAhead_; }
  int windowFrames() const { return window_; }

 private:
  using Spectrum = KOLV::Matrix<std::complex<float>>;

  [[noreturn]] void fail(const std::string &problem, int frame = -1) const;
  int framesOf(float seconds) const;
  void start(const Spectrum &first);
  void appendInput(int frame);
  // Why the frame cannot be used ("" if it can).
  std::string damageOf(const Spectrum &frame) const;
  void warnDamaged(int frame, const std::string &damage);
  void estimateFor(int frame);

  int inputID;
  int outputID;
  int numSources;
  float lookAheadSeconds;     // s
  float historySeconds;       // s
  float memorySeconds;        // s
  float memoryAheadSeconds;   // s
  float updateSeconds;        // s
  int passes;                 // per part of the signal, in all
  float restartSeconds;       // s, 0 off
  int onsetSmoothing;         // bins on either side, 0 off
  std::string sourceModel;
  std::string reference;  // REFERENCE_MICROPHONE
  float postFilterFloorDb;    // dB, 0 off
  float dereverberationSeconds;        // s, 0 off
  float dereverberationDelaySeconds;   // s
  float dereverberationMemorySeconds;  // s
  int advance;                // samples
  int samplingRate;           // Hz

  int lookAhead_;   // frames
  int history_;     // frames
  int window_;      // frames an estimate reads: history + look-ahead + 1
  int interval_;    // frames between estimates
  int predictionFrames_ = 0;  // frames that predict the late reverberation, 0 without dereverberation
  int rows_ = 0, columns_ = 0;  // the stream's frame shape, from frame 0
  int lastDamaged_ = -2;       // for one warning per damaged stretch
  std::unique_ptr<KOLV::separation::WindowedIva> iva_;
  // Frames enter the window dereverberated (when asked for): the estimate and
  // the output both see the talkers with less of the room.
  std::unique_ptr<KOLV::separation::OnlineWpe> wpe_;
  std::vector<std::complex<float>> dereverberated_[2];
};

#endif
