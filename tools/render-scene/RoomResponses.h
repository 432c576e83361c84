// Binaural room impulse responses of a shoebox room: the direct path and the
// early reflections by the image method, each image through the measured head
// response of its direction with a fractional delay, and a late diffuse tail
// of decaying noise from many directions, joined with matching energy.
#ifndef KOLV_RENDER_ROOMRESPONSES_H
#define KOLV_RENDER_ROOMRESPONSES_H

#include <cstdint>
#include <vector>

#include "HrtfSet.h"
#include "Room.h"

namespace render {

using Channels = std::vector<std::vector<double>>;  // [channel][sample]

// Images arriving later than this after the direct sound are left to the
// tail, or earlier in rooms whose reverberation decays by kJoinDecayDb sooner:
// there the tail's exact decay, not the few strong specular reflections,
// should set the reverberation time.
constexpr double kLatestJoin = 0.08;  // s
constexpr double kJoinDecayDb = 12.0;
// The direct-plus-early image of a source holds what arrives within this.
constexpr double kEarlyAfterDirect = 0.05;  // s
// The tail runs until it has decayed this far below its level at the join.
constexpr double kTailDecayDb = 75.0;

// Where the measured responses put the sound's arrival at the head's centre:
// the peak of the frontal response, in samples, averaged over the ears.
double measuredArrival(const HrtfSet &hrtf);

class RoomResponses {
 public:
  // `rt60` is the decay of the tail; the room's absorption is the walls'.
  RoomResponses(const HrtfSet &hrtf, const Room &room, double rt60);

  // Seconds after the direct sound where the images give way to the tail.
  double joinAfterDirect() const;

  // The images of a source arriving within `window` seconds after its direct
  // sound (0: the direct path alone). The direct path has the anechoic
  // response's level and arrives at distance / c; every image is attenuated by
  // the source's distance over its own.
  Channels images(double azimuthDeg, double elevationDeg, double distance, double window) const;

  // The late tail that continues `toJoin` (the images up to the join)
  // of a source at `distance`: zero before the join, its energy at the join
  // matching that of `toJoin` just before it, then decaying at the RT60.
  Channels tail(const Channels &toJoin, double distance, uint64_t seed) const;

  // The images up to the join, and those with the tail: the whole response.
  Channels toJoin(double azimuthDeg, double elevationDeg, double distance) const;
  Channels whole(double azimuthDeg, double elevationDeg, double distance, uint64_t seed) const;

  // The part of a tail within `window` seconds after the direct sound (zero
  // unless the join comes sooner).
  Channels tailWithin(const Channels &tail, double distance, double window) const;

  // Length in samples of a whole response (images and tail) at `distance`.
  size_t length(double distance) const;

 private:
  size_t joinSample(double distance) const;

  const HrtfSet &hrtf_;
  Room room_;
  double rt60_;
  double arrival_;            // samples, see measuredArrival
  double diffuseEnergy_ = 0;  // mean over the tail's directions of both ears' response energy
};

// Two responses summed, the shorter padded with zeros.
Channels sumOfResponses(const Channels &a, const Channels &b);

// The reverberation time of a response from its energy decay curve
// (Schroeder's backward integration, both ears summed): the least-squares
// line through the curve from -5 to -35 dB, extrapolated to 60 dB (T30).
double schroederRt60(const Channels &response, int samplingRate);

// Energy of the direct path's response over that of the rest of the whole
// response, both ears summed, in dB.
double directToReverberantDb(const Channels &whole, const Channels &direct);

}  // namespace render

#endif
