// Finds and loads the toolboxes (*.tlb.so): their nodes register themselves
// by static initialisation when the library is loaded.
#ifndef KOLV_HOST_TOOLBOX_LOADER_H
#define KOLV_HOST_TOOLBOX_LOADER_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace KOLV::host {

class ToolboxLoader {
 public:
  // The folder of the running executable.
  static std::string executableFolder();
  // The folders searched, in order: the folder of the running executable,
  // each folder of KOLV_TOOLBOX_PATH, then `installFolders`.
  static std::vector<std::string> searchFolders(const std::vector<std::string> &installFolders);

  // Loads every toolbox in `folders`, each real path once (and warns once). A toolbox that
  // does not load is reported in warnings(), not fatal.
  void loadAll(const std::vector<std::string> &folders);

  const std::vector<std::string> &loaded() const { return loaded_; }
  // The file name of the toolbox that registered node type `type`, or "" for
  // the types kolv registers itself.
  static std::string toolboxOf(const std::string &type);
  const std::vector<std::string> &warnings() const { return warnings_; }

 private:
  void loadFile(const std::string &path);

  std::set<std::string> tried_;      // real paths, loaded or not
  std::vector<std::string> loaded_;  // real paths
  std::vector<std::string> warnings_;
};

}  // namespace KOLV::host

#endif
