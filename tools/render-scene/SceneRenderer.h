// Renders a binaural scene: mono recordings placed around the measured head,
// in free field or in a shoebox room, still or moving, plus diffuse noise at a
// chosen SNR, with the truth about who speaks when.
//
// SNR: the power of the sum of the source images, over the samples where at
// least one source is active, against the power of the noise image over the
// whole scene; both channels count alike. The noise is stationary, so over
// the active samples alone its power is the same to within chance. In a room
// the images are the whole reverberant ones.
#ifndef KOLV_RENDER_SCENERENDERER_H
#define KOLV_RENDER_SCENERENDERER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HrtfSet.h"
#include "MovingSource.h"
#include "Room.h"
#include "Truth.h"

namespace render {

using Channels = std::vector<std::vector<double>>;  // [channel][sample]

constexpr double kDefaultDistance = 1.5;  // m, of a source from the head's centre in a room

struct SourceSpec {
  std::string file;        // mono WAV at the scene's sampling rate
  double azimuth = 0.0;    // degrees, positive towards channel 1; unused when `path` is given
  double elevation = 0.0;  // degrees
  double start = 0.0;      // s, where the recording begins in the scene
  double gainDb = 0.0;
  double distance = kDefaultDistance;  // m from the head's centre; rooms only
  std::vector<PathPoint> path;         // a moving source's azimuths over time; empty: fixed
};

// A shoebox room around the head. Without one, scenes are anechoic.
struct RoomLayout {
  Point size;           // m
  Point head;           // m
  double facing = 0.0;  // degrees from +x towards +y
  double rt60 = 0.0;    // s: the walls' absorption is chosen to give it (Eyring)
};

struct SceneLayout {
  int samplingRate = 16000;                   // Hz
  double duration = 0.0;                      // s; 0: until the last image ends, plus a short tail
  double snrDb = 15.0;
  uint64_t seed = 1;                          // of the diffuse noise
  double peakDb = -3.0;                       // dB full scale of the mixture's largest sample
  std::string headFile = kDefaultSofaFile;    // the measured head's responses
  HeadFormat headFormat = HeadFormat::Sofa;
  double headScale = 1.0;                     // the head's size over the measured one's
  bool noise = true;                          // false: no diffuse noise, the SNR is not set
  std::optional<RoomLayout> room;
  std::vector<SourceSpec> sources;
};

// What a room did to each source (rooms only).
struct RoomResult {
  double absorption = 0.0;                 // of every wall
  std::vector<Channels> responses;         // per source, both ears, at its start
  std::vector<Channels> earlyImages;       // per source, direct path and reflections within 50 ms
  std::vector<double> rt60;                // s, per source, Schroeder T30 of its response
  std::vector<double> directToReverberantDb;  // per source, of its response
};

struct RenderedScene {
  int samplingRate = 0;
  double duration = 0.0;                        // s
  double scale = 1.0;                           // common factor that set the mixture's peak
  std::vector<Channels> images;                 // per source, both ears
  std::vector<std::vector<scenekit::Stretch>> active;  // per source, seconds in the scene
  Channels noise;                               // zeros without noise
  Channels mixture;
  std::optional<RoomResult> room;
};

// Throws std::runtime_error with a message a user can act on: the source,
// the value and what is allowed.
RenderedScene renderScene(const SceneLayout &layout);

// The azimuth of a source at `time` (s): its path's, or its fixed azimuth.
double azimuthAt(const SourceSpec &source, double time);

// Sample of the scene at `seconds`, rounded to the nearest.
size_t sampleAt(double seconds, int samplingRate);

// The SNR as defined above, in dB.
double measureSnrDb(const std::vector<Channels> &images, const Channels &noise,
                    const std::vector<scenekit::Stretch> &speech, int samplingRate);

}  // namespace render

#endif
