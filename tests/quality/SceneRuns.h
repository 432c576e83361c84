// Rendered scenes for the quality suite and runs of the real programs on
// them: kolv-render-scene makes a scene (once, cached in the build folder),
// kolv runs an example network on it, kolv-evaluate --json judges the result.
#ifndef KOLV_TESTS_QUALITY_SCENERUNS_H
#define KOLV_TESTS_QUALITY_SCENERUNS_H

#include <yaml-cpp/yaml.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quality {

struct Talker {
  Talker(std::string recording, double azimuth, double start, double distance = 0.0, std::string path = {},
         double gainDb = 0.0)
      : recording(std::move(recording)), azimuth(azimuth), start(start), distance(distance), path(std::move(path)),
        gainDb(gainDb) {}

  std::string recording;  // mono 16 kHz WAV file
  double azimuth;         // degrees, positive towards channel 1; unused with a path
  double start;           // s from the start of the scene
  double distance;        // m from the head's centre, in a room; 0: the renderer's default
  std::string path;       // a moving talker, "T:AZ,..." (s:degrees); empty: still at `azimuth`
  double gainDb;          // applied to the recording
  double elevation = 0.0;  // degrees above the ears' plane
};

// A shoebox room around the head, which stands at the renderer's default
// place (the middle of the floor plan, 1.2 m high) facing +x.
struct Room {
  std::string size;  // "L,W,H", metres
  double rt60;       // s
};

struct SceneLayout {
  std::string name;  // folder name under the build folder's quality-scenes/
  double snrDb;
  double duration;   // s
  std::vector<Talker> talkers;
  std::optional<Room> room = std::nullopt;  // none: anechoic
  double headScale = 1.0;  // the head's size over the measured KEMAR's
  // Another measured head, a horizontal-plane WAV set (kolv-render-scene
  // --hrirs); empty: KEMAR, whose responses the robust localizer steers by.
  std::string otherHead = {};
};

// SoundScape Renderer's FABIAN head-and-torso simulator, another head than
// the KEMAR the localizer steers by.
extern const std::string kFabianHead;

// The folder holding the scene's scene.wav, sourceN.wav and truth.json,
// rendered on first use. The folder is reused while the renderer and the
// scene's command line stay the same; test processes asking for the same
// scene at once wait for the one that renders it.
std::string renderedScene(const SceneLayout &scene);

// Read speech from pocketsphinx-testdata: the sentence numbered `number`
// ("0880") of its Sense and Sensibility recording, mono at 16 kHz.
std::string readSpeech(const std::string &number);

// A second voice for two-talker scenes: six recorded voice prompts,
// converted to 16 kHz and joined (about 8.5 s), made once in the build folder.
std::string promptsVoice();

// Every helper throws std::runtime_error, with the command and its output,
// when a program fails: the test then fails with that text.

// Runs `kolv run NETWORK --quiet --out FOLDER` with the given `--set`
// assignments; its output goes to kolv.log in `folder`.
void runKolv(const std::string &network, const std::vector<std::string> &assignments, const std::string &folder);

// kolv-evaluate --json on the scene with the given options, parsed; the
// report is kept as `folder`/`report`.
YAML::Node evaluate(const std::string &sceneFolder, const std::vector<std::string> &options,
                    const std::string &folder, const std::string &report = "evaluation.json");

// A fresh folder for one test's outputs, under the build folder.
std::string outputFolder(const std::string &name);

// Path of an example network of the source tree.
std::string exampleNetwork(const std::string &name);

}  // namespace quality

#endif
