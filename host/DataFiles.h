// Where kolv finds what it ships: the example networks, the demo recording
// and the toolboxes, in the source tree it was built from or an installed tree.
#ifndef KOLV_HOST_DATA_FILES_H
#define KOLV_HOST_DATA_FILES_H

#include <filesystem>
#include <string>
#include <vector>

namespace KOLV::host {

constexpr const char *kDefaultNetwork = "networks/default.yaml";
constexpr const char *kDemoRecording = "data/demo/scene.wav";
constexpr const char *kDemoTruth = "data/demo/truth.json";

// The installed folders under the prefix kolv runs from (wherever the
// installed tree was moved), then under the prefix it was built for.
std::vector<std::filesystem::path> installedFolders(const char *relative);

// `relative` (e.g. "data/demo/scene.wav") in the source tree of this build or
// the installed share folders; throws NetworkError naming where it looked.
std::filesystem::path findDataFile(const std::string &relative);

// The embedded demo recording.
std::string demoRecordingPath();

}  // namespace KOLV::host

#endif
