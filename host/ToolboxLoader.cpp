#include "ToolboxLoader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Node.h"

namespace KOLV::host {

namespace fs = std::filesystem;

namespace {
constexpr const char *kToolboxSuffix = ".tlb.so";

std::map<std::string, std::string> &registeredBy() {
  static std::map<std::string, std::string> origins;
  return origins;
}

bool isToolbox(const fs::path &path) {
  std::string name = path.filename().string();
  std::string suffix = kToolboxSuffix;
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

std::string ToolboxLoader::executableFolder() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

std::vector<std::string> ToolboxLoader::searchFolders(
    const std::vector<std::string> &installFolders) {
  std::vector<std::string> folders;
  std::string self = executableFolder();
  if (!self.empty()) folders.push_back(self);
  if (const char *extra = std::getenv("KOLV_TOOLBOX_PATH")) {
    std::istringstream list(extra);
    std::string folder;
    while (std::getline(list, folder, ':'))
      if (!folder.empty()) folders.push_back(folder);
  }
  folders.insert(folders.end(), installFolders.begin(), installFolders.end());
  return folders;
}

void ToolboxLoader::loadAll(const std::vector<std::string> &folders) {
  for (const std::string &folder : folders) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) continue;
    std::vector<fs::path> found;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error))
      if (isToolbox(entry.path())) found.push_back(entry.path());
    // Load in name order so that registration does not depend on the file system.
    std::sort(found.begin(), found.end());
    for (const fs::path &path : found) loadFile(path.string());
  }
}

void ToolboxLoader::loadFile(const std::string &path) {
  std::error_code error;
  std::string real = fs::canonical(path, error).string();
  if (error) {
    warnings_.push_back("cannot resolve toolbox " + path + ": " + error.message());
    return;
  }
  if (!tried_.insert(real).second) return;
  // Toolboxes stay loaded for the life of the process: their factories are
  // in the node registry.
  const size_t before = Node::factories().size();
  if (!dlopen(real.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
    const char *reason = dlerror();
    warnings_.push_back("cannot load toolbox " + real + ": " + (reason ? reason : "unknown error"));
    return;
  }
  loaded_.push_back(real);
  const std::vector<_NodeFactory *> &all = Node::factories();
  for (size_t i = before; i < all.size(); ++i)
    registeredBy()[all[i]->getName()] = fs::path(real).filename().string();
}

std::string ToolboxLoader::toolboxOf(const std::string &type) {
  auto found = registeredBy().find(type);
  return found == registeredBy().end() ? "" : found->second;
}

}  // namespace KOLV::host
