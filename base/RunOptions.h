// Settings of the current run that nodes may consult (set by the host before
// the network is built).
#ifndef KOLV_RUN_OPTIONS_H
#define KOLV_RUN_OPTIONS_H

#include <string>

namespace KOLV {

struct RunOptions {
  // Where display nodes save their last picture as NODE.png when the run
  // ends; empty for no snapshots.
  std::string snapshotDirectory;
  // True while the host paces a file run at the speed of its audio.
  bool realtime = false;
  // No messages but errors and warnings.
  bool quiet = false;
  // Where the sinks put files named by a relative path; empty for the
  // current folder.
  std::string outputDirectory;
};

RunOptions &runOptions();

}  // namespace KOLV

#endif
