// A shoebox room around the head: its geometry, the walls' absorption that
// gives a reverberation time (Eyring's formula), and the image sources of a
// source in it (Allen and Berkley's image method).
#ifndef KOLV_RENDER_ROOM_H
#define KOLV_RENDER_ROOM_H

#include <string>
#include <vector>

namespace render {

struct Point {
  double x = 0.0, y = 0.0, z = 0.0;  // m
};

struct Room {
  Point size;            // m: length (x), width (y), height (z); one corner at the origin
  Point head;            // m: the head's centre
  double facing = 0.0;   // degrees from the room's +x axis towards +y, in the floor's plane
  double absorption = 0.0;  // of every wall, 0 to 1, frequency-independent
};

// Eyring: RT60 = 24 ln10 V / (-c S ln(1 - absorption)).
double eyringRt60(const Point &size, double absorption);
double eyringAbsorption(const Point &size, double rt60);

// Sabine's reverberation time with every wall fully absorbing, 24 ln10 V / (c S):
// the renderer refuses to promise a shorter one.
double shortestRt60(const Point &size);

// Throws std::runtime_error naming the values when the room, the head or the
// reverberation time cannot be rendered.
void checkRoom(const Room &room, double requestedRt60);

// Where a source at a direction (this project's convention, relative to the
// head's facing) and a distance from the head's centre lies in the room.
Point sourcePosition(const Room &room, double azimuthDeg, double elevationDeg, double distance);

bool isInside(const Room &room, const Point &p);

// "6 x 5 x 3 m", "(3, 2.5, 1.2)": figures for messages.
std::string describeSize(const Point &size);
std::string describePoint(const Point &p);

struct ImageSource {
  double distance;   // m, from the head's centre
  double azimuth;    // degrees, this project's convention, relative to the head's facing
  double elevation;  // degrees
  double gain;       // reflection coefficients' product (1 for the direct path)
  int reflections;   // 0 for the direct path
};

// Every image of the source (the source itself included) closer to the head
// than `maxDistance`, nearest first.
std::vector<ImageSource> imageSources(const Room &room, const Point &source, double maxDistance);

}  // namespace render

#endif
