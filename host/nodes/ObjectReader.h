// Delivers, as frame k, the k-th object of a file in the text form.
#ifndef KOLV_HOST_OBJECT_READER_H
#define KOLV_HOST_OBJECT_READER_H

#include <deque>
#include <fstream>
#include <string>

#include "Node.h"

namespace KOLV::host {

class ObjectReader : public BufferedNode {
 public:
  ObjectReader(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  bool frameExists(int count) override;
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  // Reads objects until frame `count` is held or the file ends.
  void readUpTo(int count);
  // Reads the next object into `object` (null at the end of the file). A
  // file that ends inside an object ends the stream with a warning; text
  // that does not parse before the end of the file is an error.
  void readNext(ObjectRef &object);
  // What a frame past the end of the file holds: a zero matrix shaped like
  // the last object when that was a matrix, otherwise an empty vector.
  ObjectRef emptyFrame() const;

  int outputID_;
  std::string file_;
  std::ifstream in_;
  bool ended_ = false;
  int firstHeld_ = 0;           // frame number of held_.front()
  std::deque<ObjectRef> held_;  // objects read ahead and not yet delivered
  ObjectRef last_;              // the last object of the file read so far
};

}  // namespace KOLV::host

#endif
