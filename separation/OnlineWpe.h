// Online dereverberation of a two-microphone stream by weighted prediction
// error (WPE; Nakatani et al. 2010), in its recursive form (Yoshioka and
// Nakatani 2013): in every frequency bin, the late reverberation of the
// current frame is predicted from the frames `delay` to `delay + taps - 1`
// before it, by a linear filter estimated by recursive least squares with
// each frame weighted by the inverse of its power, and subtracted. The
// direct sound and the early reflections (within `delay` frames) stay. The
// power that weighs a frame is the one observed in it (the mean over the
// microphones): in rooms it left the separated talkers less distorted than
// the prediction error's power, for the same gain in separation.
#ifndef KOLV_SEPARATION_ONLINE_WPE_H
#define KOLV_SEPARATION_ONLINE_WPE_H

#include <complex>
#include <vector>

namespace KOLV {
namespace separation {

struct OnlineWpeSettings {
  int bins = 256;
  int delay = 2;             // frames between a frame and the nearest one that predicts it
  int taps = 5;              // frames that predict it
  double forgetting = 0.98;  // per frame, of the filter's statistics
};

class OnlineWpe {
 public:
  explicit OnlineWpe(const OnlineWpeSettings &settings);

  // Dereverberates the next frame: the bins of microphone 0 and 1 in, the
  // prediction errors out (out may not alias in).
  void process(const std::complex<float> *mic0, const std::complex<float> *mic1, std::complex<float> *out0,
               std::complex<float> *out1);
  // The next frame could not be used: it enters the past as silence and
  // changes no filter.
  void skip();

 private:
  using cdouble = std::complex<double>;
  int order() const { return 2 * settings_.taps; }
  void findTapSlots();
  // x~: the predicting frames of bin k, newest first, microphones interleaved.
  void gatherPast(int k);
  void resetBin(int k);
  void processBin(int k, std::complex<float> &x0, std::complex<float> &x1);

  OnlineWpeSettings settings_;
  int length_;   // frames of the past kept: delay + taps - 1
  int newest_ = 0;  // slot of the newest frame in the past ring
  // Per bin: the past ring (length_ frames x 2 microphones), the inverse of
  // the weighted correlation of x~ (order x order), the filter (order x 2)
  // and the bin's mean power.
  std::vector<std::complex<float>> past_;
  std::vector<cdouble> inverse_, filter_;
  std::vector<double> meanPower_;
  std::vector<cdouble> stacked_, gain_;  // scratch: x~ and P x~ of one bin
  std::vector<int> tapSlots_;            // this frame's ring slots of the predicting frames
};

}  // namespace separation
}  // namespace KOLV

#endif
