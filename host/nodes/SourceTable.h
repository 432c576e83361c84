// CSV of the sources of each frame: frame,time,id,azimuth,power.
#ifndef KOLV_HOST_SOURCE_TABLE_H
#define KOLV_HOST_SOURCE_TABLE_H

#include <string>

#include "Source.h"
#include "TableSink.h"

namespace KOLV::host {

// Azimuth in degrees of a direction vector, from atan2(x[1], x[0]).
double azimuthDegrees(const Source &source);

class SourceTable : public TableSink {
 public:
  SourceTable(std::string nodeName, ParameterSet params);
  static const NodeDescription &description();
  void calculate(int output_id, int count, Buffer &out) override;

 private:
  int sourcesID_;
};

}  // namespace KOLV::host

#endif
