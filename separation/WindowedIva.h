// Two-source independent vector analysis on a sliding window of the stream:
// the window's frames are kept, and each estimate runs auxiliary-function
// IVA passes (2 x 2 iterative projection) over them, starting from the
// demixing matrices of the estimate before. Continuity of the matrices keeps
// each source on its output from one window to the next.
#ifndef KOLV_SEPARATION_WINDOWED_IVA_H
#define KOLV_SEPARATION_WINDOWED_IVA_H

#include <array>
#include <complex>
#include <vector>

#include "IterativeProjection.h"

namespace KOLV {
namespace separation {

// How a source's frames are weighted in its covariance: by 1 / r with the
// spherical Laplacian model, by 1 / (r^2 / bins) with the time-varying
// Gaussian one (r: the norm of the source's spectrum in the frame).
enum class SourceModel { Laplace, Gauss };

// Projecting source i back onto microphone i.
constexpr int kOwnMicrophone = -1;

struct WindowedIvaSettings {
  int bins = 256;            // frequency bins of a frame
  int capacity = 400;        // frames kept: the longest window an estimate reads
  SourceModel model = SourceModel::Gauss;
  int minPasses = 1;         // passes of an estimate that sees few new frames
  int coldPasses = 30;       // passes of an estimate whose whole window is new
  int interval = 10;         // frames between estimates
  // An estimate is due before `interval` has passed once new frames bring
  // this share of the window's energy: a talker starts, and the first tenth
  // of a second of his speech should not go out unseparated.
  double eagerShare = 0.05;
  double memory = 0.0;       // frames: time constant of the weights behind the focus; 0 weighs the window flat
  double memoryAhead = 0.0;  // frames: the same ahead of the focus (with memory > 0); 0 weighs those flat
  int reference = kOwnMicrophone;  // the microphone (0 or 1) every source is heard at
  // Least gain of the post-filter (1: off): each output's bin is scaled by
  // its source's share of the two sources' power at both ears.
  float postFilterFloor = 1.0f;
  // For this many frames after talkers start out of quiet (0: never), an
  // estimate reads only the frames from restartLead before the start, and
  // every `interval` frames one from the identity takes over where it
  // explains them better.
  int restartSpan = 0;
  int restartLead = 0;
  // Within restartSpan, each bin's covariances are averaged with those of
  // this many bins on either side (each scaled to unit power first): an
  // estimate from a few frames then has more data per matrix (0: never).
  int onsetSmoothing = 0;
};

class WindowedIva {
 public:
  explicit WindowedIva(const WindowedIvaSettings &settings);

  // Appends the next frame of the stream: the bins of microphone 0 and 1.
  void append(const std::complex<float> *mic0, const std::complex<float> *mic1);
  // Appends a frame of zeros (a frame that could not be used).
  void appendSilence();
  // Frames appended so far; the next one gets this number.
  long long framesAppended() const { return appended_; }

  // Re-estimates the demixing matrices from frames [first, end) (frame
  // numbers; end - first <= capacity, end <= framesAppended()). Passes scale
  // with the share of the window's energy that entered or left it, or whose
  // weight moved with the focus, since the last estimate; none when nothing
  // changed.
  // Frames weigh exp(-|t - focus| / memory), those ahead of the focus with
  // memoryAhead in its place (alike with memoryAhead 0; all alike with
  // memory 0): the focus is the frame the estimate is for.
  void estimate(long long first, long long end, long long focus);
  // Whether an estimate of [first, end) is due: `interval` frames after the
  // last one, or earlier when new frames bring `eagerShare` of the window's
  // energy (a talker starts).
  bool estimateDue(long long first, long long end) const;
  int lastPasses() const { return lastPasses_; }

  // Source i as heard at microphone m in a kept frame (framesAppended() -
  // capacity <= frame < framesAppended()): out_i = a_mi (W x)_i with
  // A = W^-1 (projection back), m = i or the settings' reference, the gain
  // a_mi limited to 6 dB; then, with a post-filter, scaled by
  // max(floor, P_i / (P_0 + P_1)) for P_i = |(W x)_i|^2 (|a_0i|^2 + |a_1i|^2),
  // source i's power at both ears.
  void separate(long long frame, std::complex<float> *out0, std::complex<float> *out1) const;

  const std::vector<Demixing2> &demixing() const { return demixing_; }

 private:
  long long slotOf(long long frame) const { return frame - base_; }
  void shiftHistory();
  double energyBetween(long long first, long long end) const;
  int passesFor(long long first, long long end, long long focus) const;
  bool sourceNorms(long long first, int frames);
  void weigh(std::vector<float> &norms, int frames) const;
  void focusWeights(long long first, int frames, long long focus);
  double focusScale() const;
  void updateBins(long long first, int frames);
  std::array<Hermitian2, 2> smoothedCovariances(int k) const;
  void updateProjection();
  void runPasses(long long first, int frames, int passes);
  bool sourcesStarted(long long first, long long end);
  double negativeLogLikelihood(long long first, int frames);
  void restart(long long first, int frames);
  void alignRows(const std::vector<Demixing2> &previous, long long first, int frames);
  float postFilterGain(float own, float other) const;

  WindowedIvaSettings settings_;
  int span_;  // slots per bin: twice the capacity, so that shifts are rare
  // Observations, planar: slot s of bin k at k * span_ + s.
  std::vector<float> re0_, im0_, re1_, im1_;
  std::vector<double> frameEnergy_;  // per slot: sum of |x|^2 over bins and microphones
  long long base_ = 0;      // frame number in slot 0
  long long appended_ = 0;
  long long lastFirst_ = 0, lastEnd_ = 0;  // the window of the last estimate
  long long lastFocus_ = 0;
  int lastPasses_ = 0;
  long long onset_ = -1;        // first frame of the talkers' last start out of quiet
  long long lastRestart_ = -1;  // end of the window of the last estimate from the identity
  std::vector<float> norm0_, norm1_;  // per window frame: r, then its weight
  std::vector<float> focus_;          // per window frame: its weight from its distance to the focus
  std::vector<Demixing2> demixing_;   // W per bin
  std::vector<Demixing2> running_;    // W before an estimate from the identity
  std::vector<std::array<Hermitian2, 2>> covariances_;  // per bin: V_0, V_1 of the last pass
  int smoothing_ = 0;                 // bins on either side averaged in this estimate
  std::vector<Demixing2> projected_;  // W with row i scaled by (W^-1)_ii, per bin
  std::vector<std::array<float, 2>> earPower_;  // per bin and source: |a_0i|^2 + |a_1i|^2
};

}  // namespace separation
}  // namespace KOLV

#endif
