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

// Prints the summary; `truthFile` may name a scene truth file (azimuths and
// active stretches of its talkers) or be empty.
void printDemoSummary(std::ostream &out, const std::filesystem::path &outputFolder,
                      const std::filesystem::path &truthFile, int frames, double seconds);

}  // namespace KOLV::host

#endif
