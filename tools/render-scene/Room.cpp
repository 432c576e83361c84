#include "Room.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "InterauralDelay.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegPerRad = 180.0 / kPi;
const double kDecayConstant = 24.0 * std::log(10.0) / kSpeedOfSound;  // s/m: Sabine's 0.161
constexpr double kLongestRt60 = 5.0;                                    // s: keeps the responses in memory

double volume(const Point &s) { return s.x * s.y * s.z; }
double surface(const Point &s) { return 2.0 * (s.x * s.y + s.x * s.z + s.y * s.z); }

std::string figure(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// One axis of the image lattice: the image's coordinate and the number of
// reflections from the two walls at 0 and `length` (Allen and Berkley's
// x = (1 - 2q) s + 2 n L).
struct AxisImage {
  double coordinate;
  int reflections;
};

std::vector<AxisImage> axisImages(double length, double source, double head, double maxDistance) {
  std::vector<AxisImage> images;
  const int cells = static_cast<int>(std::ceil(maxDistance / (2.0 * length))) + 1;
  for (int n = -cells; n <= cells; ++n)
    for (int q = 0; q <= 1; ++q) {
      double coordinate = (1 - 2 * q) * source + 2.0 * n * length;
      if (std::fabs(coordinate - head) <= maxDistance) images.push_back({coordinate, std::abs(n - q) + std::abs(n)});
    }
  return images;
}

}  // namespace

double eyringRt60(const Point &size, double absorption) {
  return kDecayConstant * volume(size) / (-surface(size) * std::log(1.0 - absorption));
}

double eyringAbsorption(const Point &size, double rt60) {
  return 1.0 - std::exp(-kDecayConstant * volume(size) / (surface(size) * rt60));
}

double shortestRt60(const Point &size) { return kDecayConstant * volume(size) / surface(size); }

std::string describeSize(const Point &s) { return figure(s.x) + " x " + figure(s.y) + " x " + figure(s.z) + " m"; }

std::string describePoint(const Point &p) {
  return "(" + figure(p.x) + ", " + figure(p.y) + ", " + figure(p.z) + ")";
}

bool isInside(const Room &room, const Point &p) {
  return p.x > 0.0 && p.x < room.size.x && p.y > 0.0 && p.y < room.size.y && p.z > 0.0 && p.z < room.size.z;
}

void checkRoom(const Room &room, double requestedRt60) {
  const Point &s = room.size;
  if (!(s.x > 0.0 && s.y > 0.0 && s.z > 0.0))
    throw std::runtime_error("room " + describeSize(s) + ": every side must be positive");
  if (!isInside(room, room.head))
    throw std::runtime_error("head " + describePoint(room.head) + " is outside the room " + describeSize(s));
  if (!(requestedRt60 > 0.0) || requestedRt60 > kLongestRt60)
    throw std::runtime_error("RT60 " + figure(requestedRt60) + " s is outside 0 to " + figure(kLongestRt60) + " s");
  if (requestedRt60 < shortestRt60(s))
    throw std::runtime_error("RT60 " + figure(requestedRt60) + " s is shorter than the room " + describeSize(s) +
                             " can have: even fully absorbing walls give " + figure(shortestRt60(s)) +
                             " s (Sabine, 0.161 V/S)");
  if (!(room.absorption > 0.0 && room.absorption < 1.0))
    throw std::runtime_error("wall absorption " + figure(room.absorption) + " is outside 0 to 1 (both excluded)");
}

Point sourcePosition(const Room &room, double azimuthDeg, double elevationDeg, double distance) {
  // The head's frame: ahead, left, up; positive azimuths turn to the right.
  const double facing = room.facing / kDegPerRad, az = azimuthDeg / kDegPerRad, el = elevationDeg / kDegPerRad;
  const double ahead = distance * std::cos(el) * std::cos(az);
  const double left = -distance * std::cos(el) * std::sin(az);
  return {room.head.x + ahead * std::cos(facing) - left * std::sin(facing),
          room.head.y + ahead * std::sin(facing) + left * std::cos(facing), room.head.z + distance * std::sin(el)};
}

std::vector<ImageSource> imageSources(const Room &room, const Point &source, double maxDistance) {
  const double facing = room.facing / kDegPerRad;
  const double reflection = std::sqrt(1.0 - room.absorption);  // of pressure, from the energy absorbed
  std::vector<ImageSource> images;
  for (const AxisImage &x : axisImages(room.size.x, source.x, room.head.x, maxDistance))
    for (const AxisImage &y : axisImages(room.size.y, source.y, room.head.y, maxDistance))
      for (const AxisImage &z : axisImages(room.size.z, source.z, room.head.z, maxDistance)) {
        const double dx = x.coordinate - room.head.x, dy = y.coordinate - room.head.y, dz = z.coordinate - room.head.z;
        const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (distance > maxDistance) continue;
        const double ahead = dx * std::cos(facing) + dy * std::sin(facing);
        const double left = -dx * std::sin(facing) + dy * std::cos(facing);
        const int reflections = x.reflections + y.reflections + z.reflections;
        images.push_back({distance, std::atan2(-left, ahead) * kDegPerRad, std::asin(dz / distance) * kDegPerRad,
                          std::pow(reflection, reflections), reflections});
      }
  std::sort(images.begin(), images.end(),
            [](const ImageSource &a, const ImageSource &b) { return a.distance < b.distance; });
  return images;
}

}  // namespace render
