// Runs a built network frame by frame: initialize every node, compute frames
// 0, 1, 2, ... of the network's ends until a source runs out, finish every
// node (also after a failure, so that sinks complete their files).
#ifndef KOLV_HOST_RUNNER_H
#define KOLV_HOST_RUNNER_H

#include <chrono>
#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "Network.h"

namespace KOLV::host {

struct RunSettings {
  long long maxFrames = -1;  // -1: until the input ends
  bool quiet = false;
  bool progress = false;  // show the progress line
  bool realtime = false;  // pace frames at the speed of the audio
  bool profile = false;
  // Seconds the caller spent building the network, reported with the
  // profile (negative: not measured).
  double buildSeconds = -1.0;
  // Called after each frame; a program that runs networks in its own process
  // checks for its interrupts there and calls requestStop().
  std::function<void()> afterFrame;
};

// Exit statuses of a run.
constexpr int kRunSucceeded = 0;
constexpr int kRunFailed = 1;
// A run stopped by signal S (after finishing every node) exits with this plus S.
constexpr int kRunStoppedBySignal = 128;

class Runner {
 public:
  Runner(Network &network, RunSettings settings, std::ostream &messages);
  // Runs the network; returns kRunSucceeded, kRunFailed (the error has been
  // written to `messages`) or kRunStoppedBySignal + the signal after
  // requestStop(). Throws NetworkError when asked to pace a network that
  // reads no audio file.
  int run();
  // Asks the running network to stop after the frame being computed, then
  // finish its nodes as at the end of the input. Safe in a signal handler.
  static void requestStop(int signal);
  // Forgets a stop asked for, before another run in the same process.
  static void clearStopRequest() { stopSignal_ = 0; }
  // Whether the network has a WaveSource that gives frames a duration.
  bool hasAudioClock() const { return advance_ != 0; }
  long long framesRun() const { return frames_; }
  // Seconds of audio run, or a negative number when the network reads no audio file.
  double secondsRun() const { return audioSeconds(frames_); }

  // The peak resident memory of the process in kB (VmHWM), or -1.
  static long peakResidentKilobytes();

 private:
  bool initializeAll();
  bool computeFrames();
  bool finishAll();
  bool sourcesHave(int frame);
  void computeEnds(int frame);
  void waitForRealTime(int frame);
  // Rewrites the progress line, a few times a second.
  void showProgress();
  void clearProgress();
  void reportProfile();
  // Seconds of audio in `frames` frames, or a negative number when the
  // network reads no audio file.
  double audioSeconds(long long frames) const;
  void fail(const std::string &text);

  Network &network_;
  std::vector<BufferedNode *> sources_;
  std::vector<BufferedNode *> ends_;
  RunSettings settings_;
  std::ostream &messages_;
  int advance_ = 0;  // of the network's audio, 0 if none
  int sampleRate_ = 0;
  long long frames_ = 0;
  double initializeSeconds_ = 0.0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastProgress_;
  bool progressShown_ = false;
  static volatile std::sig_atomic_t stopSignal_;  // 0 while no stop is asked for
};

}  // namespace KOLV::host

#endif
