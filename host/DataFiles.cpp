#include "DataFiles.h"

#include "Network.h"
#include "ToolboxLoader.h"

namespace KOLV::host {

namespace fs = std::filesystem;

namespace {

// The folders holding networks/ and data/: the source tree of this build,
// then the installed share folders.
std::vector<fs::path> dataFolders() {
  std::vector<fs::path> folders{fs::path(KOLV_SOURCE_DIR)};
  for (const fs::path &folder : installedFolders("share/kolv")) folders.push_back(folder);
  return folders;
}

}  // namespace

std::vector<fs::path> installedFolders(const char *relative) {
  return {fs::path(ToolboxLoader::executableFolder()) / ".." / relative,
          fs::path(KOLV_INSTALL_PREFIX) / relative};
}

fs::path findDataFile(const std::string &relative) {
  for (const fs::path &folder : dataFolders()) {
    std::error_code error;
    if (fs::exists(folder / relative, error)) return fs::absolute(folder / relative);
  }
  std::string looked;
  for (const fs::path &folder : dataFolders())
    looked += (looked.empty() ? "" : ", ") + folder.lexically_normal().string();
  throw NetworkError("cannot find " + relative + " (looked in " + looked + ")");
}

std::string demoRecordingPath() { return findDataFile(kDemoRecording).string(); }

}  // namespace KOLV::host
