// Writes each frame's object in the text form, one per line.
#ifndef KOLV_HOST_OBJECT_WRITER_H
#define KOLV_HOST_OBJECT_WRITER_H

#include <fstream>
#include <sstream>
#include <string>

#include "Node.h"

namespace KOLV::host {

class ObjectWriter : public BufferedNode {
 public:
  ObjectWriter(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;
  void finish() override;

 private:
  int inputID_;
  std::string file_;
  std::ofstream fileStream_;
  std::ostringstream text_;       // written instead of FILE when streams are installed
  std::string *memory_ = nullptr;  // where text_ goes at the end
  std::ostream *out_;              // one of the two
};

// Opens `path` for writing, creating its folder; throws the node's error
// naming the file when that fails.
void openOutputFile(std::ofstream &out, const std::string &path, const std::string &nodeName);

}  // namespace KOLV::host

#endif
