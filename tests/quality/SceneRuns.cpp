#include "SceneRuns.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quality {

const std::string kFabianHead = "/usr/share/ssr/default_hrirs.wav";

namespace fs = std::filesystem;

namespace {

constexpr int kNoiseSeed = 7;
const char *const kReadSpeech = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
const char *const kPromptsFolder = "/usr/share/sounds/alsa";
const char *const kPrompts[] = {"Front_Center", "Front_Left", "Front_Right", "Rear_Center", "Rear_Left", "Side_Right"};

fs::path buildFolder() { return fs::path(KOLV_BUILD_DIR); }
fs::path scenesFolder() { return buildFolder() / "quality-scenes"; }

std::string quoted(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a shell command line; its standard output goes to `stdoutFile` and
// its standard error to a log shown when it fails.
void runCommand(const std::string &command, const fs::path &stdoutFile) {
  const fs::path log = stdoutFile.string() + ".stderr";
  const std::string line = command + " >" + quoted(stdoutFile.string()) + " 2>" + quoted(log.string());
  const int raw = std::system(line.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (status != 0)
    throw std::runtime_error(line + "\nended with status " + std::to_string(status) + ":\n" + readFile(stdoutFile) +
                             readFile(log));
}

std::string stamp(const fs::path &program) {
  std::error_code error;
  const auto size = fs::file_size(program, error);
  const auto time = fs::last_write_time(program, error).time_since_epoch().count();
  return program.string() + " " + std::to_string(size) + " " + std::to_string(time);
}

// Holds an exclusive lock on a file for as long as it lives.
class FileLock {
 public:
  explicit FileLock(const fs::path &path) : fd_(::open(path.c_str(), O_CREAT | O_RDWR, 0644)) {
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::runtime_error("could not lock " + path.string());
  }
  ~FileLock() { ::close(fd_); }
  FileLock(const FileLock &) = delete;
  FileLock &operator=(const FileLock &) = delete;

 private:
  int fd_;
};

// Makes `folder` by `make(scratch)` unless it exists with the same recipe.
// The recipe is stored beside the result; a folder made from another recipe
// (a changed scene or a rebuilt renderer) is made again. Test processes
// running at once take turns, so one makes the folder and the others use it.
template <class Make>
void makeOnce(const fs::path &folder, const std::string &recipe, Make make) {
  fs::create_directories(folder.parent_path());
  FileLock lock(folder.string() + ".lock");
  const fs::path recipeFile = folder / "recipe.txt";
  if (fs::exists(recipeFile) && readFile(recipeFile) == recipe) return;
  fs::remove_all(folder);
  const fs::path scratch = folder.string() + ".making";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  make(scratch);
  std::ofstream(scratch / "recipe.txt") << recipe;
  fs::rename(scratch, folder);
}

std::string renderCommand(const SceneLayout &scene, const fs::path &out) {
  std::ostringstream command;
  command << quoted((buildFolder() / "kolv-render-scene").string()) << " --out " << quoted(out.string())
          << " --duration " << scene.duration << " --snr " << scene.snrDb << " --seed " << kNoiseSeed;
  if (scene.room) command << " --room " << scene.room->size << " --rt60 " << scene.room->rt60;
  if (scene.headScale != 1.0) command << " --head-scale " << scene.headScale;
  if (!scene.otherHead.empty()) command << " --hrirs " << quoted(scene.otherHead);
  for (const Talker &t : scene.talkers) {
    command << " --source " << quoted(t.recording);
    if (t.path.empty())
      command << " --azimuth " << t.azimuth;
    else
      command << " --path " << t.path;
    command << " --start " << t.start;
    if (t.distance > 0.0) command << " --distance " << t.distance;
    if (t.gainDb != 0.0) command << " --gain " << t.gainDb;
    if (t.elevation != 0.0) command << " --elevation " << t.elevation;
  }
  return command.str();
}

}  // namespace

std::string renderedScene(const SceneLayout &scene) {
  const fs::path folder = scenesFolder() / scene.name;
  const fs::path renderer = buildFolder() / "kolv-render-scene";
  makeOnce(folder, stamp(renderer) + "\n" + renderCommand(scene, "OUT"), [&](const fs::path &scratch) {
    runCommand(renderCommand(scene, scratch), scratch / "render.log");
  });
  return folder.string();
}

std::string readSpeech(const std::string &number) { return kReadSpeech + number + ".wav"; }

std::string promptsVoice() {
  const fs::path folder = scenesFolder() / "prompts-voice";
  std::string command = "sox -D -R";
  for (const char *prompt : kPrompts) command += " " + quoted(std::string(kPromptsFolder) + "/" + prompt + ".wav");
  makeOnce(folder, command, [&](const fs::path &scratch) {
    runCommand(command + " -r 16000 -c 1 -b 16 " + quoted((scratch / "voice.wav").string()), scratch / "sox.log");
  });
  return (folder / "voice.wav").string();
}

void runKolv(const std::string &network, const std::vector<std::string> &assignments, const std::string &folder) {
  // Files a network names by relative paths (an output the test does not
  // set) land in the test's folder too.
  std::string command = quoted((buildFolder() / "kolv").string()) + " run " + quoted(network) + " --quiet --out " +
                        quoted(folder);
  for (const std::string &a : assignments) command += " --set " + quoted(a);
  runCommand(command, fs::path(folder) / "kolv.log");
}

YAML::Node evaluate(const std::string &sceneFolder, const std::vector<std::string> &options,
                    const std::string &folder, const std::string &reportName) {
  const fs::path report = fs::path(folder) / reportName;
  std::string command =
      quoted((buildFolder() / "kolv-evaluate").string()) + " --json --truth " + quoted(sceneFolder + "/truth.json");
  for (const std::string &option : options) command += " " + quoted(option);
  runCommand(command, report);
  return YAML::LoadFile(report.string());
}

std::string outputFolder(const std::string &name) {
  const fs::path folder = buildFolder() / "quality-runs" / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder.string();
}

std::string exampleNetwork(const std::string &name) { return std::string(KOLV_SOURCE_DIR) + "/networks/" + name; }

}  // namespace quality
