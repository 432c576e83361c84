// The truth file of a rendered scene: where each source is, when it speaks,
// the SNR and the files written. Stored as JSON; read back by the evaluator.
#ifndef KOLV_SCENEKIT_TRUTH_H
#define KOLV_SCENEKIT_TRUTH_H

#include <string>
#include <utility>
#include <vector>

namespace scenekit {

struct Stretch {
  double start = 0.0;  // s from the start of the scene
  double end = 0.0;    // s, exclusive
};

struct TruthSource {
  std::string file;       // the mono recording it was made from
  std::string image;      // its two-channel image at the ears, relative to the truth file
  double azimuth = 0.0;   // degrees, 0 ahead, positive towards channel 1 (right ear)
  double elevation = 0.0; // degrees, positive upwards
  double start = 0.0;     // s, where the recording begins in the scene
  double gainDb = 0.0;    // dB applied to the recording before the common scale
  std::vector<Stretch> active;
  // A moving source: its path and its azimuth per frame of `frame` seconds
  // (frame f at f * frame s); empty for a fixed source.
  std::vector<std::pair<double, double>> path;  // (s, degrees)
  double frame = 0.0;                           // s
  std::vector<double> azimuths;                 // degrees
  // In a room (empty names otherwise):
  double distance = 0.0;          // m, from the head's centre
  std::string earlyImage;         // the direct path and the reflections within 50 ms, at both ears
  std::string response;           // its binaural room impulse response at its start
  double rt60Measured = 0.0;      // s, Schroeder T30 of that response
  double directToReverberantDb = 0.0;
};

struct TruthRoom {
  double size[3] = {0, 0, 0};  // m: length (x), width (y), height (z)
  double head[3] = {0, 0, 0};  // m: the head's centre
  double facing = 0.0;         // degrees from +x towards +y
  double rt60Requested = 0.0;  // s
  double rt60Measured = 0.0;   // s: mean over the sources' responses, Schroeder T30
  double absorption = 0.0;     // of every wall
};

struct Truth {
  int samplingRate = 0;     // Hz
  double duration = 0.0;    // s
  double snrDb = 0.0;       // speech images over noise, see the renderer's definition; NaN: no noise
  unsigned long seed = 0;   // of the diffuse noise
  double scale = 1.0;       // common factor applied to every signal so the mixture fits
  std::string hrtf;         // the SOFA file
  double headScale = 1.0;   // the head's size over the SOFA file's
  std::string mixture;      // relative to the truth file
  std::string noiseImage;   // empty when not written
  bool inRoom = false;
  TruthRoom room;           // when in a room
  std::vector<TruthSource> sources;
};

// JSON text with every figure written so that it reads back exactly.
std::string truthToJson(const Truth &truth);

// Throws std::runtime_error naming the file and the missing or bad field.
Truth readTruth(const std::string &path);

// The folder a truth file lies in, to find the files it names.
std::string folderOf(const std::string &path);

// The union of every source's active stretches, sorted and merged.
std::vector<Stretch> speechStretches(const Truth &truth);

// Whether time `t` (s) lies in one of the stretches.
bool isWithin(const std::vector<Stretch> &stretches, double t);

}  // namespace scenekit

#endif
