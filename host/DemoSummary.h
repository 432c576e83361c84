// The summary that `kolv run` prints after the default network: the tracked
// directions (against the demo scene's truth, when there is one), the share
// of speech frames and where the results are.
#ifndef KOLV_HOST_DEMO_SUMMARY_H
#define KOLV_HOST_DEMO_SUMMARY_H

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace KOLV::host {

// A direction the tracker reported, and in what share of the frames.
struct TrackedDirection {
  int azimuth;   // degrees
  double share;  // of all frames, 0..1
};

// The dominant directions of a tracked-direction table (frame,time,id,azimuth,power):
// the most frequent azimuth first, each taking the rows within a few degrees
// of it; directions reported in under 5 % of the frames are left out.
std::vector<TrackedDirection> dominantDirections(const std::filesystem::path &trackedTable,
                                                 int frames);

// The share of frames whose speech column is 1 in a speech table (frame,time,speech).
double speechShare(const std::filesystem::path &speechTable);

// Whether a separation kept each talker on one output: per talker, in each
// 1 s window in which the talker speaks, the output holding the larger share
// of the talker's energy (by projection on the talker's image at that
// output's ear); a talker is kept when that output never changes.
struct TalkerOnOutputs {
  double azimuth;         // the talker's, degrees
  std::vector<int> held;  // per window with the talker active: output 0 or 1
  int outputChanges() const;
  bool kept() const { return outputChanges() == 0; }
};

// `outputs` are the two separated files (output k at ear k), `images` each
// talker's image at both ears, `active` each talker's active stretches (s).
std::vector<TalkerOnOutputs> talkersOnOutputs(
    const std::vector<std::filesystem::path> &outputs,
    const std::vector<std::filesystem::path> &images,
    const std::vector<std::vector<std::pair<double, double>>> &active,
    const std::vector<double> &azimuths);

// Prints the summary; `truthFile` may name a scene truth file (azimuths and
// active stretches of its talkers) or be empty.
void printDemoSummary(std::ostream &out, const std::filesystem::path &outputFolder,
                      const std::filesystem::path &truthFile, int frames, double seconds);

}  // namespace KOLV::host

#endif
