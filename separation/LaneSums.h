// Sums over frames run in independent partial sums, "lanes" (frames t,
// t + Lanes, t + 2 Lanes, ... in one lane), which the compiler turns into
// vector instructions; one sum would chain every addition to the one before.
#ifndef KOLV_SEPARATION_LANE_SUMS_H
#define KOLV_SEPARATION_LANE_SUMS_H

namespace KOLV {
namespace separation {

// The partial sums added in lane order.
template <int Lanes>
float addLanes(const float (&lanes)[Lanes]) {
  float total = 0.0f;
  for (float lane : lanes) total += lane;
  return total;
}

}  // namespace separation
}  // namespace KOLV

#endif
