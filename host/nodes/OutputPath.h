// Where a sink writes a file: a relative path goes under the run's output
// folder (`kolv run --out DIR`), so runs over many recordings side by side
// do not overwrite each other's results.
#ifndef KOLV_HOST_OUTPUT_PATH_H
#define KOLV_HOST_OUTPUT_PATH_H

#include <filesystem>
#include <string>

#include "RunOptions.h"

namespace KOLV::host {

// "-" (standard output) and absolute paths stay as they are.
inline std::string outputPath(const std::string &file) {
  const std::string &folder = runOptions().outputDirectory;
  if (folder.empty() || file == "-" || std::filesystem::path(file).is_absolute()) return file;
  return (std::filesystem::path(folder) / file).string();
}

}  // namespace KOLV::host

#endif
