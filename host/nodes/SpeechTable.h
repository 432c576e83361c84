// CSV of the speech decision of each frame: frame,time,speech.
#ifndef KOLV_HOST_SPEECH_TABLE_H
#define KOLV_HOST_SPEECH_TABLE_H

#include <string>

#include "TableSink.h"

namespace KOLV::host {

class SpeechTable : public TableSink {
 public:
  SpeechTable(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  int decisionID_;
};

}  // namespace KOLV::host

#endif
