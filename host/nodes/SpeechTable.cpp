#include "SpeechTable.h"

#include "NodeError.h"
#include "Vector.h"

namespace KOLV::host {

const NodeDescription &SpeechTable::description() {
  static const NodeDescription d{
      "Writes the speech decision of each frame as CSV: frame,time,speech (1 or 0)",
      {{"DECISION", "Vector<ObjectRef>", "empty for no speech, non-empty for speech"}},
      {},
      tableSinkParameters()};
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
