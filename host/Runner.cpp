#include "Runner.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

#include "ErrorText.h"
#include "nodes/WaveSource.h"

namespace KOLV::host {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// Column widths of the profile table.
constexpr int kSecondsWidth = 10;
constexpr int kShareWidth = 6;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string takeText(BaseException *e) {
  std::string text = userText(e);
  delete e;
  return text;
}
}  // namespace

volatile std::sig_atomic_t Runner::stopSignal_ = 0;

void Runner::requestStop(int signal) { stopSignal_ = signal; }

Runner::Runner(Network &network, RunSettings settings, std::ostream &messages)
    : network_(network),
      sources_(network.sources()),
      ends_(network.ends()),
      settings_(settings),
      messages_(messages) {
  for (BufferedNode *node : sources_)
    if (auto *wave = dynamic_cast<WaveSource *>(node)) {
      advance_ = wave->advance();
      sampleRate_ = wave->sampleRate();
      break;
    }
}

long Runner::peakResidentKilobytes() {
  const std::string field = "VmHWM:";  // the peak resident set of the process
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  return -1;
}

void Runner::fail(const std::string &text) {
  clearProgress();
  messages_ << "kolv: " << network_.file() << ": " << text << '\n';
}

int Runner::run() {
  if (settings_.realtime && !hasAudioClock())
    throw NetworkError(network_.file() + ": --realtime needs a WaveSource to take its pace from");
  BufferedNode::setProfiling(settings_.profile);
  const Clock::time_point initializing = Clock::now();
  bool ok = initializeAll();
  initializeSeconds_ = secondsSince(initializing);
  ok = ok && computeFrames();
  ok = finishAll() && ok;
  clearProgress();
  if (settings_.profile) reportProfile();
  if (!ok) return kRunFailed;
  if (stopSignal_ != 0) {
    if (!settings_.quiet)
      messages_ << "kolv: " << network_.file() << ": stopped by signal " << stopSignal_ << " after "
                << frames_ << " frames; the outputs are complete up to there\n";
    return kRunStoppedBySignal + stopSignal_;
  }
  return kRunSucceeded;
}

bool Runner::initializeAll() {
  for (const Network::Entry &entry : network_.entries()) {
    try {
      entry.node->initialize();
    } catch (BaseException *e) {
      fail("node '" + entry.name + "' (" + entry.type +
           ") failed to initialize: " + withoutNodePrefix(takeText(e), entry.name));
      return false;
    } catch (std::exception &e) {
      fail("node '" + entry.name + "' (" + entry.type + ") failed to initialize: " + e.what());
      return false;
    }
  }
  return true;
}

bool Runner::computeFrames() {
  start_ = Clock::now();
  lastProgress_ = start_;
  int frame = 0;
  try {
    for (; settings_.maxFrames < 0 || frame < settings_.maxFrames; ++frame) {
      if (stopSignal_ != 0 || !sourcesHave(frame)) break;
      if (settings_.realtime) waitForRealTime(frame);
      computeEnds(frame);
      frames_ = frame + 1;
      if (settings_.progress) showProgress();
      if (settings_.afterFrame) settings_.afterFrame();
    }
  } catch (NodeException *e) {
    fail(takeText(e));
    return false;
  } catch (BaseException *e) {
    fail("frame " + std::to_string(frame) + ": " + takeText(e));
    return false;
  } catch (std::exception &e) {
    fail("frame " + std::to_string(frame) + ": " + e.what());
    return false;
  }
  return true;
}

bool Runner::sourcesHave(int frame) {
  for (BufferedNode *source : sources_) {
    bool exists;
    try {
      exists = source->frameExists(frame);
    } catch (BaseException *e) {
      throw new NodeException(source->getName(), source->typeName(), frame, e);
    } catch (std::exception &e) {
      throw new NodeException(source->getName(), source->typeName(), frame, e.what());
    }
    if (!exists) return false;
  }
  return true;
}

void Runner::computeEnds(int frame) {
  for (BufferedNode *end : ends_) {
    if (end->numOutputs() == 0) {
      end->computeFrame(frame);
      continue;
    }
    for (int o = 0; o < end->numOutputs(); ++o) end->getOutput(o, frame);
  }
}

void Runner::waitForRealTime(int frame) {
  auto due = start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                          static_cast<double>(frame) * advance_ / sampleRate_));
  std::this_thread::sleep_until(due);
}

double Runner::audioSeconds(long long frames) const {
  if (advance_ == 0) return -1.0;
  return static_cast<double>(frames) * advance_ / sampleRate_;
}

void Runner::showProgress() {
  Clock::time_point now = Clock::now();
  if (now - lastProgress_ < kProgressInterval) return;
  lastProgress_ = now;
  std::ostringstream line;
  line << "\r" << frames_ << " frames";
  double audio = audioSeconds(frames_);
  if (audio >= 0.0) {
    double elapsed = secondsSince(start_);
    line << std::fixed << std::setprecision(1) << ", " << audio << " s of audio";
    if (elapsed > 0.0) line << ", " << audio / elapsed << " x real time";
  }
  line << "\033[K";
  messages_ << line.str() << std::flush;
  progressShown_ = true;
}

void Runner::clearProgress() {
  if (!progressShown_) return;
  messages_ << "\r\033[K" << std::flush;
  progressShown_ = false;
}

bool Runner::finishAll() {
  bool ok = true;
  for (const Network::Entry &entry : network_.entries()) {
    try {
      entry.node->finish();
    } catch (BaseException *e) {
      fail("node '" + entry.name + "' (" + entry.type +
           ") failed to finish: " + withoutNodePrefix(takeText(e), entry.name));
      ok = false;
    } catch (std::exception &e) {
      fail("node '" + entry.name + "' (" + entry.type + ") failed to finish: " + e.what());
      ok = false;
    }
  }
  return ok;
}

void Runner::reportProfile() {
  double elapsed = secondsSince(start_);
  double total = 0.0;
  for (const Network::Entry &entry : network_.entries()) total += entry.node->profileSeconds();
  std::ostringstream out;
  out << std::fixed << std::setprecision(3);
  out << "kolv: profile of " << frames_ << " frames in " << elapsed << " s";
  double audio = audioSeconds(frames_);
  if (audio >= 0.0 && elapsed > 0.0)
    out << " (" << audio << " s of audio, " << std::setprecision(1) << audio / elapsed
        << " x real time)";
  out << '\n';
  // What a short recording may spend mostly on (a node that reads a measured
  // head, say), and what the CPU time of the whole process counts besides.
  out << std::setprecision(3) << "  before the first frame, not counted here:";
  if (settings_.buildSeconds >= 0.0) out << " building the network " << settings_.buildSeconds << " s,";
  out << " initializing it " << initializeSeconds_ << " s\n";
  size_t nameWidth = 0, typeWidth = 0;
  for (const Network::Entry &entry : network_.entries()) {
    nameWidth = std::max(nameWidth, entry.name.size());
    typeWidth = std::max(typeWidth, entry.type.size());
  }
  for (const Network::Entry &entry : network_.entries()) {
    double seconds = entry.node->profileSeconds();
    out << std::setprecision(3) << "  " << std::left << std::setw(static_cast<int>(nameWidth))
        << entry.name << "  " << std::setw(static_cast<int>(typeWidth)) << entry.type
        << std::right << std::setw(kSecondsWidth) << seconds
        << " s " << std::setprecision(1) << std::setw(kShareWidth)
        << (total > 0.0 ? 100.0 * seconds / total : 0.0) << " %\n";
  }
  out << "  peak resident memory: " << peakResidentKilobytes() << " kB\n";
  messages_ << out.str();
}

}  // namespace KOLV::host
