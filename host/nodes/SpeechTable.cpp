#include "SpeechTable.h"

#include "NodeError.h"
#include "Vector.h"

namespace KOLV::host {

const NodeDescription &SpeechTable::description() {
  static const NodeDescription d{
      "Writes the speech decision of each frame as CSV: frame,time,speech (1 or 0)",
      {{"DECISION", "Vector<ObjectRef>", "empty for no speech, non-empty for speech"}},
      {},
      {{"FILE", ValueType::String, "", "the CSV file to write (its folder is created)"},
       {"ADVANCE", ValueType::Int, "samples", "frame shift, for the time column"},
       {"SAMPLING_RATE", ValueType::Int, "Hz", "sampling rate, for the time column"}}};
  return d;
}

SpeechTable::SpeechTable(std::string nodeName, ParameterSet params)
    : TableSink(nodeName, params, "frame,time,speech") {
  decisionID_ = addInput("DECISION");
}

void SpeechTable::calculate(int, int count, Buffer &) {
  auto decision = typedInput<Vector<ObjectRef>>(*this, decisionID_, count);
  writeRow(count, decision->empty() ? "0" : "1");
}

}  // namespace KOLV::host
