// The compiled part of the Python module `kolv`: builds and runs networks
// with the host's runner, the recordings and the sinks' results held in
// memory (MemoryStreams). The Python package around it (kolv/__init__.py)
// turns the results into arrays and tables.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <yaml-cpp/yaml.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "BaseException.h"
#include "DataFiles.h"
#include "ErrorText.h"
#include "Network.h"
#include "Node.h"
#include "RunOptions.h"
#include "Runner.h"
#include "ToolboxLoader.h"
#include "nodes/FrameworkNodes.h"
#include "nodes/MemoryStreams.h"

namespace py = pybind11;
using namespace KOLV;
using namespace KOLV::host;

namespace {

constexpr const char *kRecordingType = "WaveSource";
constexpr const char *kAudioSinkType = "WaveSink";
constexpr const char *kMessagePrefix = "kolv: ";
// The 16-bit scale of kolv's samples against the ±1 scale of float arrays.
constexpr float kFullScale = 32768.0f;
// What std::rand() starts from in a process that never called std::srand().
constexpr unsigned kFreshProcessSeed = 1;

// A node that fails mid-run; raised as kolv.RunError.
struct RunFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

PyObject *warningCategory = nullptr;

// Seconds the last run spent preparing the arrays it reads and copying the
// results into arrays, for the benchmark that holds it against the run's time
// (the samples read are converted where the host copies them anyway).
double copySeconds = 0.0;

class CopyTimer {
 public:
  ~CopyTimer() {
    copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void warn(const std::string &text) {
  if (PyErr_WarnEx(warningCategory, text.c_str(), 1) != 0) throw py::error_already_set();
}

// The folder of this extension, from which the toolboxes are found: the
// build folder two levels up (build/python/kolv), or <prefix>/lib/kolv three
// levels up (<prefix>/lib/python3/dist-packages/kolv).
std::filesystem::path moduleFolder() {
  Dl_info info{};
  dladdr(reinterpret_cast<void *>(&moduleFolder), &info);
  return std::filesystem::path(info.dli_fname).parent_path();
}

void loadToolboxes() {
  registerFrameworkNodes();
  const std::filesystem::path build = moduleFolder().parent_path().parent_path();
  std::vector<std::string> folders = {build.string(), (build.parent_path() / "kolv").string()};
  for (const std::filesystem::path &folder : installedFolders("lib/kolv"))
    folders.push_back(folder.string());
  ToolboxLoader loader;
  loader.loadAll(ToolboxLoader::searchFolders(folders));
  for (const std::string &warning : loader.warnings()) warn(warning);
}

// The names of the WaveSource nodes of a network description, in the order
// of the text; empty when the text does not read (building it says why).
std::vector<std::string> recordingNodes(const std::string &text) {
  std::vector<std::string> names;
  try {
    const YAML::Node nodes = YAML::Load(text)["nodes"];
    if (!nodes.IsMap()) return names;
    for (const auto &node : nodes)
      if (node.second.IsMap() && node.second["type"] &&
          node.second["type"].as<std::string>() == kRecordingType)
        names.push_back(node.first.as<std::string>());
  } catch (YAML::Exception &) {
  }
  return names;
}

std::vector<std::string> recordingNodesOfFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return recordingNodes(text.str());
}

template <class T>
bool holds(const py::array &array) {
  return py::isinstance<py::array_t<T>>(array);
}

// A numpy array (samples x channels, or samples for one channel) of int16
// on the 16-bit scale or of float32/float64 on the ±1 scale; read in place
// when it is C-contiguous, else from a copy kept in `held`.
MemoryRecording recordingOf(const std::string &node, py::array array, int rate, py::list &held) {
  CopyTimer timer;
  if (array.ndim() == 1) array = array.attr("reshape")(-1, 1);
  if (array.ndim() != 2)
    throw py::value_error("the audio for node '" + node + "' has " +
                          std::to_string(array.ndim()) +
                          " dimensions; give samples x channels (or one dimension for mono)");
  if (array.shape(1) < 1 || array.shape(1) > array.shape(0))
    throw py::value_error("the audio for node '" + node + "' is " +
                          std::to_string(array.shape(0)) + " x " + std::to_string(array.shape(1)) +
                          ": give samples x channels (more samples than channels)");
  using Type = MemoryRecording::SampleType;
  MemoryRecording recording;
  if (holds<int16_t>(array))
    recording.type = Type::Int16;
  else if (holds<float>(array))
    recording.type = Type::Float32;
  else if (holds<double>(array))
    recording.type = Type::Float64;
  else
    throw py::type_error("the audio for node '" + node + "' is of type " +
                         py::str(array.dtype()).cast<std::string>() +
                         "; give int16 (16-bit scale) or float32/float64 (-1 to 1)");
  array = py::array::ensure(array, py::array::c_style);
  held.append(array);
  recording.samples = array.data();
  recording.frames = array.shape(0);
  recording.channels = static_cast<int>(array.shape(1));
  recording.sampleRate = rate;
  return recording;
}

// Assigns the arrays to the network's WaveSource nodes: one array for a
// network with one, else a dict by node name.
std::map<std::string, MemoryRecording> recordingsOf(const std::vector<std::string> &nodes,
                                                    const py::object &audio, int rate,
                                                    py::list &held) {
  if (nodes.empty())
    throw py::value_error("the network has no WaveSource node to take the audio");
  std::string list;
  for (const std::string &name : nodes) list += (list.empty() ? "'" : ", '") + name + "'";
  std::map<std::string, MemoryRecording> recordings;
  if (!py::isinstance<py::dict>(audio)) {
    if (nodes.size() > 1)
      throw py::value_error("the network has " + std::to_string(nodes.size()) +
                            " WaveSource nodes (" + list +
                            "): give the audio as a dict by node name");
    recordings[nodes[0]] = recordingOf(nodes[0], py::array(audio), rate, held);
    return recordings;
  }
  for (auto item : audio.cast<py::dict>()) {
    const std::string name = py::str(item.first);
    if (std::find(nodes.begin(), nodes.end(), name) == nodes.end())
      throw py::key_error("audio for '" + name + "', which is no WaveSource node of the network (" +
                          list + ")");
    recordings[name] = recordingOf(name, py::array(py::reinterpret_borrow<py::object>(item.second)), rate, held);
  }
  for (const std::string &name : nodes)
    if (!recordings.count(name))
      throw py::key_error("no audio for the WaveSource node '" + name + "'");
  return recordings;
}

// The results of a run: per sink, its type and its audio (float32, samples x
// channels, ±1 scale) or its text.
py::dict resultsOf(const Network &network, MemoryStreams &streams) {
  CopyTimer timer;
  py::dict results;
  for (const Network::Entry &entry : network.entries()) {
    if (entry.type == kAudioSinkType) {
      const MemoryAudio &audio = streams.audio[entry.name];
      const py::ssize_t channels = std::max(audio.channels, 1);  // a sink never finished holds none
      py::array_t<float> array({static_cast<py::ssize_t>(audio.samples.size()) / channels, channels});
      float *to = array.mutable_data();
      for (int16_t sample : audio.samples) *to++ = static_cast<float>(sample) / kFullScale;
      results[entry.name.c_str()] = py::make_tuple(entry.type, array, audio.sampleRate);
    } else if (streams.text.count(entry.name)) {
      results[entry.name.c_str()] = py::make_tuple(entry.type, streams.text[entry.name], 0);
    }
  }
  return results;
}

std::string withoutPrefix(std::string text) {
  if (text.rfind(kMessagePrefix, 0) == 0) text.erase(0, std::string(kMessagePrefix).size());
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Runs one network at a time: the run options and the streams are the process's.
std::mutex runLock;

std::unique_ptr<Network> build(const py::object &path, const std::string &text,
                               const std::vector<ParameterOverride> &overrides) {
  try {
    if (!path.is_none()) return Network::load(py::str(path), overrides);
    return Network::parse(text, "network", overrides);
  } catch (BaseException *e) {
    std::string message = userText(e);
    delete e;
    throw NetworkError(message);
  }
}

// Runs the network (a path, or YAML/JSON text when `path` is None) on the
// arrays; returns {sink: (type, result, rate)}.
py::dict run(const py::object &path, const std::string &text,
             const std::vector<std::string> &assignments, const py::object &audio, int rate,
             bool quiet) {
  if (rate < 1) throw py::value_error("rate must be a positive number of Hz, not " + std::to_string(rate));
  std::vector<ParameterOverride> overrides;
  for (const std::string &assignment : assignments) overrides.push_back(parseOverride(assignment));
  MemoryStreams streams;
  copySeconds = 0.0;
  py::list held;  // the arrays read while the run goes on
  streams.recordings = recordingsOf(
      path.is_none() ? recordingNodes(text) : recordingNodesOfFile(py::str(path)), audio, rate,
      held);

  std::unique_lock<std::mutex> lock(runLock, std::defer_lock);
  {
    py::gil_scoped_release released;
    lock.lock();
  }
  runOptions() = RunOptions{};
  runOptions().quiet = quiet;
  installMemoryStreams(&streams);
  struct Uninstall {
    ~Uninstall() { installMemoryStreams(nullptr); }
  } uninstall;
  std::unique_ptr<Network> network = build(path, text, overrides);
  for (const std::string &warning : network->warnings()) warn(warning);

  RunSettings settings;
  settings.quiet = true;  // the messages of a run that ends well are the command line's own
  PyObject *interruption[3] = {nullptr, nullptr, nullptr};
  settings.afterFrame = [&interruption] {
    py::gil_scoped_acquire held;
    if (PyErr_CheckSignals() == 0) return;
    PyErr_Fetch(&interruption[0], &interruption[1], &interruption[2]);
    Runner::requestStop(SIGINT);
  };
  std::ostringstream messages;
  Runner runner(*network, settings, messages);
  Runner::clearStopRequest();
  // The tracker's clustering draws from the C library's generator: each run
  // starts it where a new kolv process does, so that its results do not
  // depend on the runs before it.
  std::srand(kFreshProcessSeed);
  int status;
  {
    py::gil_scoped_release released;
    status = runner.run();
  }
  if (interruption[0]) {
    PyErr_Restore(interruption[0], interruption[1], interruption[2]);
    throw py::error_already_set();
  }
  if (status != kRunSucceeded) throw RunFailure(withoutPrefix(messages.str()));
  return resultsOf(*network, streams);
}

py::object defaultOf(const ParameterInfo &p) {
  if (!p.hasDefault) return py::none();
  return std::visit([](const auto &value) -> py::object { return py::cast(value); },
                    p.defaultValue);
}

py::list portsOf(const std::vector<PortInfo> &ports) {
  py::list list;
  for (const PortInfo &port : ports)
    list.append(py::dict(py::arg("name") = port.name, py::arg("type") = port.objectType,
                         py::arg("meaning") = port.meaning));
  return list;
}

py::dict describe(const std::string &type) {
  _NodeFactory *factory = Node::getFactoryNamed(type);
  if (!factory) throw py::key_error("no node type named " + type + " (kolv.nodes() lists them)");
  const NodeDescription *d = factory->description();
  py::dict result(py::arg("type") = type);
  if (!d) return result;
  py::list parameters;
  for (const ParameterInfo &p : d->parameters) {
    const bool fromStream = p.stream != StreamProperty::None && !p.streamOrigin;
    parameters.append(py::dict(
        py::arg("name") = p.name, py::arg("type") = valueTypeName(p.type),
        py::arg("unit") = p.unit, py::arg("default") = defaultOf(p),
        py::arg("required") = !p.hasDefault && !fromStream,
        py::arg("accepted") = p.acceptedText(),
        py::arg("stream") = p.stream == StreamProperty::None
                                ? py::object(py::none())
                                : py::object(py::str(streamPropertyName(p.stream))),
        py::arg("meaning") = p.meaning));
  }
  result["summary"] = d->summary;
  result["inputs"] = portsOf(d->inputs);
  result["outputs"] = portsOf(d->outputs);
  result["parameters"] = parameters;
  return result;
}

std::vector<std::pair<std::string, std::string>> nodeTypes() {
  std::vector<std::pair<std::string, std::string>> types;
  for (_NodeFactory *factory : Node::factories())
    types.emplace_back(factory->getName(),
                       factory->description() ? factory->description()->summary : "");
  std::sort(types.begin(), types.end());
  return types;
}

}  // namespace

PYBIND11_MODULE(_kolv, m) {
  m.doc() = "The compiled part of kolv: networks run in memory (use the package kolv).";
  static py::exception<std::runtime_error> baseError(m, "KolvError", PyExc_RuntimeError);
  static py::exception<NetworkError> networkError(m, "NetworkError", baseError.ptr());
  static py::exception<RunFailure> runError(m, "RunError", baseError.ptr());
  warningCategory = PyErr_NewException("kolv.KolvWarning", PyExc_UserWarning, nullptr);
  m.attr("KolvWarning") = py::handle(warningCategory);
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const NetworkError &e) {
      PyErr_SetString(networkError.ptr(), e.what());
    } catch (const RunFailure &e) {
      PyErr_SetString(runError.ptr(), e.what());
    }
  });
  m.def("load_toolboxes", &loadToolboxes);
  m.def("run", &run, py::arg("path"), py::arg("text"), py::arg("assignments"), py::arg("audio"),
        py::arg("rate"), py::arg("quiet"));
  m.def("copy_seconds", [] { return copySeconds; });
  m.def("describe", &describe, py::arg("type"));
  m.def("node_types", &nodeTypes);
}
