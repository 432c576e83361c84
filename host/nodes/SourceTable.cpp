#include "SourceTable.h"

#include <cmath>
#include <cstdio>
#include <typeinfo>

#include "NodeError.h"
#include "Vector.h"

namespace KOLV::host {

namespace {
constexpr double kDegreesPerRadian = 57.295779513082320876798154814105;
constexpr int kAzimuthDecimals = 2;
// Significant digits of the power column (its scale depends on the node
// that made the sources).
constexpr int kPowerDigits = 6;
}  // namespace

double azimuthDegrees(const Source &source) {
  return std::atan2(static_cast<double>(source.x[1]), static_cast<double>(source.x[0])) *
         kDegreesPerRadian;
}

const NodeDescription &SourceTable::description() {
  static const NodeDescription d{
      "Writes the sources of each frame as CSV: frame,time,id,azimuth,power",
      {{"SOURCES", "Vector<ObjectRef>", "the sources (Source records) of each frame"}},
      {},
      tableSinkParameters()};
  return d;
}

SourceTable::SourceTable(std::string nodeName, ParameterSet params)
    : TableSink(nodeName, params, "frame,time,id,azimuth,power") {
  sourcesID_ = addInput("SOURCES");
}

void SourceTable::calculate(int, int count, Buffer &) {
  auto sources = typedInput<Vector<ObjectRef>>(*this, sourcesID_, count);
  for (size_t i = 0; i < sources->size(); ++i) {
    auto *source = dynamic_cast<const Source *>((*sources)[i].get());
    if (!source)
      KOLV_NODE_ERROR(getName(), "element " + std::to_string(i) + " of input SOURCES is " +
                                     ((*sources)[i] ? (*sources)[i]->className() : "empty") +
                                     ", not a Source");
    char row[128];
    std::snprintf(row, sizeof row, "%d,%.*f,%.*g", source->id, kAzimuthDecimals,
                  azimuthDegrees(*source), kPowerDigits, static_cast<double>(source->power));
    writeRow(count, row);
  }
}

}  // namespace KOLV::host
