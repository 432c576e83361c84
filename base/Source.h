// A sound-source record: a direction as a unit vector, its power and an id.
#ifndef KOLV_SOURCE_H
#define KOLV_SOURCE_H

#include "Object.h"

namespace KOLV {

class Source : public Object {
 public:
  static constexpr const char *kClassName = "Source";

  Source() = default;

  float x[3] = {0.0f, 0.0f, 0.0f};  // direction (cos azimuth, sin azimuth, 0)
  float power = 0.0f;
  int id = 0;
  int spare = 0;

  void printOn(std::ostream &out = std::cout) const override;
  // Reads "<x X0 X1 X2> <power P> <id I> <spare S> >" (after "<Source").
  void readFrom(std::istream &in = std::cin) override;
  void serialize(std::ostream &out) const override;
  void unserialize(std::istream &in) override;
  ObjectRef clone() override { return ObjectRef(new Source(*this)); }
  std::string className() const override { return kClassName; }
};

}  // namespace KOLV

#endif
