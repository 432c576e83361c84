// kolv: loads the toolboxes, then runs a network described in YAML or lists
// the node types it knows.
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "DemoSummary.h"
#include "GenericType.h"
#include "Network.h"
#include "Node.h"
#include "Object.h"
#include "RunOptions.h"
#include "Runner.h"
#include "ToolboxLoader.h"
#include "DataFiles.h"
#include "ErrorText.h"
#include "nodes/AudioInput.h"
#include "nodes/FrameworkNodes.h"
#include "nodes/OutputPath.h"

namespace fs = std::filesystem;
using namespace KOLV;
using namespace KOLV::host;

namespace {

constexpr int kUsageError = 2;
constexpr const char *kDemoSourceNode = "source";
constexpr const char *kDemoOutputFolder = "kolv-out";
// Blanks between the columns of `kolv nodes TYPE`.
constexpr size_t kColumnGap = 2;

const char *const kUsage =
    "usage: kolv run [NETWORK] [--set NODE.PARAM=VALUE]... [--frames N] [--out DIR]\n"
    "                [--snapshots DIR] [--quiet] [--realtime] [--profile]\n"
    "       kolv nodes [TYPE]\n"
    "       kolv --help | --version\n"
    "\n"
    "  run NETWORK        build the network described in the YAML file and run it to the\n"
    "                     end of its input; without NETWORK, run the default network on\n"
    "                     the demo recording and write the results into kolv-out/\n"
    "  --set N.P=V        set parameter P of node N (V typed as in the file: 160 is an\n"
    "                     int, 1.0 a float, anything else or anything quoted a string)\n"
    "  --frames N         stop after N frames\n"
    "  --out DIR          write the files the network names by relative paths under DIR\n"
    "  --snapshots DIR    display nodes save their last picture as DIR/NODE.png\n"
    "  --quiet            no progress line or messages, only errors\n"
    "  --realtime         run at the speed of the audio\n"
    "  --profile          print each node's share of the time and the peak memory\n"
    "  nodes [TYPE]       list the node types, or show the ports and parameters of TYPE\n"
    "\n"
    "Exit status: 0 success, 1 a node failed while frames were computed, 2 a usage\n"
    "error or a network that cannot be built, 128 + N when signal N stopped the run.\n";

struct UsageError {
  std::string message;
};

struct RunCommand {
  std::string network;
  std::vector<std::string> overrides;
  RunSettings settings;
  std::string snapshots;
  std::string outputFolder;
};

long long parseFrameCount(const std::string &text) {
  try {
    size_t used = 0;
    long long n = std::stoll(text, &used);
    if (used == text.size() && n >= 0) return n;
  } catch (std::exception &) {
  }
  throw UsageError{"--frames needs a whole number of frames, not '" + text + "'"};
}

RunCommand parseRun(const std::vector<std::string> &args) {
  RunCommand command;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    auto value = [&]() -> const std::string & {
      if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
      return args[++i];
    };
    if (arg == "--set") {
      command.overrides.push_back(value());
    } else if (arg == "--frames") {
      command.settings.maxFrames = parseFrameCount(value());
    } else if (arg == "--snapshots") {
      command.snapshots = value();
    } else if (arg == "--out") {
      command.outputFolder = value();
    } else if (arg == "--quiet") {
      command.settings.quiet = true;
    } else if (arg == "--realtime") {
      command.settings.realtime = true;
    } else if (arg == "--profile") {
      command.settings.profile = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      throw UsageError{"unknown option " + arg};
    } else if (command.network.empty()) {
      command.network = arg;
    } else {
      throw UsageError{"more than one network file: " + command.network + " and " + arg};
    }
  }
  command.settings.progress = !command.settings.quiet && isatty(STDERR_FILENO);
  return command;
}

// Tells what the sinks of the network wrote.
void reportOutputs(const Network &network) {
  for (const Network::Entry &entry : network.entries()) {
    if (entry.node->numOutputs() != 0 || !entry.params.exist("FILE")) continue;
    std::cout << "kolv: " << entry.name << " (" << entry.type << ") wrote "
              << outputPath(dereference_cast<String>(entry.params.get("FILE"))) << '\n';
  }
}

void stopRun(int signal) {
  Runner::requestStop(signal);
  AudioInput::interruptReads();
}

// The first interrupt stops the run cleanly (sinks finish their files); a
// second one ends the process at once. Reads waiting on a stalled stream are
// interrupted, not restarted, so the first one always takes effect.
void stopCleanlyOnSignals() {
  struct sigaction action {};
  action.sa_handler = stopRun;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int runNetwork(const std::vector<std::string> &args) {
  RunCommand command = parseRun(args);
  bool demo = command.network.empty();
  std::vector<ParameterOverride> overrides;
  for (const std::string &text : command.overrides) overrides.push_back(parseOverride(text));
  bool ownRecording = false;
  if (demo) {
    command.network = findDataFile(kDefaultNetwork).string();
    ownRecording =
        std::any_of(overrides.begin(), overrides.end(), [](const ParameterOverride &o) {
          return o.node == kDemoSourceNode && o.parameter == "FILE";
        });
  }
  if (!command.outputFolder.empty()) {
    std::error_code error;
    fs::create_directories(command.outputFolder, error);
    if (error)
      throw UsageError{"cannot create the output folder " + command.outputFolder + ": " +
                       error.message()};
    runOptions().outputDirectory = command.outputFolder;
  }
  if (!command.snapshots.empty()) {
    std::error_code error;
    fs::create_directories(command.snapshots, error);
    if (error)
      throw UsageError{"cannot create the snapshot folder " + command.snapshots + ": " +
                       error.message()};
    runOptions().snapshotDirectory = command.snapshots;
  }
  // Nodes may consult the run options when they are built.
  runOptions().realtime = command.settings.realtime;
  runOptions().quiet = command.settings.quiet;
  const auto building = std::chrono::steady_clock::now();
  std::unique_ptr<Network> network = Network::load(command.network, overrides);
  command.settings.buildSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - building).count();
  // Shown even when quiet: each is a result the user would not expect.
  for (const std::string &warning : network->warnings())
    std::cerr << "kolv: warning: " << warning << '\n';
  Runner runner(*network, command.settings, std::cerr);
  stopCleanlyOnSignals();
  int status = runner.run();
  if (!command.settings.quiet && status == kRunSucceeded) {
    std::cerr << "kolv: " << runner.framesRun() << " frames\n";
    if (demo) {
      reportOutputs(*network);
      printDemoSummary(std::cout, outputPath(kDemoOutputFolder), ownRecording ? "" : findDataFile(kDemoTruth),
                       static_cast<int>(runner.framesRun()), runner.secondsRun());
    }
  }
  return status;
}

std::vector<_NodeFactory *> sortedFactories() {
  std::vector<_NodeFactory *> list = Node::factories();
  std::sort(list.begin(), list.end(),
            [](_NodeFactory *a, _NodeFactory *b) { return a->getName() < b->getName(); });
  return list;
}

// The width of a column: its longest entry and the gap.
template <class Rows, class Field>
int columnWidth(const Rows &rows, Field field) {
  size_t width = 0;
  for (const auto &row : rows) width = std::max(width, std::string(field(row)).size());
  return static_cast<int>(width + kColumnGap);
}

void printPorts(const char *title, const std::vector<PortInfo> &ports) {
  std::cout << title << ":\n";
  if (ports.empty()) std::cout << "  (none)\n";
  int nameWidth = columnWidth(ports, [](const PortInfo &p) { return p.name; });
  int typeWidth = columnWidth(ports, [](const PortInfo &p) { return p.objectType; });
  for (const PortInfo &p : ports)
    std::cout << "  " << std::left << std::setw(nameWidth) << p.name << std::setw(typeWidth)
              << p.objectType << p.meaning << '\n';
}

std::string unitText(const ParameterInfo &p) { return p.unit.empty() ? "-" : p.unit; }

// What a parameter is when a network leaves it out.
std::string defaultText(const ParameterInfo &p) {
  const bool fromStream = p.stream != StreamProperty::None && !p.streamOrigin;
  if (fromStream) return "the stream's";
  return p.hasDefault ? p.defaultText() : "(required)";
}

void printParameters(const std::vector<ParameterInfo> &parameters) {
  std::cout << "parameters (name, type, unit, default, meaning):\n";
  if (parameters.empty()) std::cout << "  (none)\n";
  int nameWidth = columnWidth(parameters, [](const ParameterInfo &p) { return p.name; });
  int typeWidth =
      columnWidth(parameters, [](const ParameterInfo &p) { return valueTypeName(p.type); });
  int unitWidth = columnWidth(parameters, unitText);
  int defaultWidth = columnWidth(parameters, defaultText);
  const std::string indent(2 + nameWidth, ' ');
  for (const ParameterInfo &p : parameters) {
    std::cout << "  " << std::left << std::setw(nameWidth) << p.name << std::setw(typeWidth)
              << valueTypeName(p.type) << std::setw(unitWidth) << unitText(p)
              << std::setw(defaultWidth) << defaultText(p) << p.meaning << '\n';
    const std::string accepted = p.acceptedText();
    if (!accepted.empty())
      std::cout << indent << "accepted: " << accepted
                << (p.choicesStrict ? "" : " (others are warned of)") << '\n';
  }
}

int listNodes(const std::vector<std::string> &args) {
  if (args.size() > 1) throw UsageError{"kolv nodes takes at most one node type"};
  if (args.empty()) {
    for (_NodeFactory *factory : sortedFactories()) {
      std::cout << factory->getName();
      if (factory->description()) std::cout << "  " << factory->description()->summary;
      std::cout << '\n';
    }
    return 0;
  }
  _NodeFactory *factory = Node::getFactoryNamed(args[0]);
  if (!factory) throw UsageError{"no node type named " + args[0] + " (kolv nodes lists them)"};
  const NodeDescription *d = factory->description();
  const std::string toolbox = ToolboxLoader::toolboxOf(factory->getName());
  std::cout << factory->getName() << "  ("
            << (toolbox.empty() ? std::string("kolv's own node") : "toolbox " + toolbox) << ")\n";
  if (!d) {
    std::cout << "(no description)\n";
    return 0;
  }
  std::cout << d->summary << "\n\n";
  printPorts("inputs", d->inputs);
  printPorts("outputs", d->outputs);
  printParameters(d->parameters);
  return 0;
}

void printVersion() {
  std::cout << "kolv " << KOLV_VERSION << '\n';
  for (const Object::ModuleVersion &m : Object::moduleVersions())
    std::cout << "toolbox " << m.name << ' ' << m.version << " (revision " << m.revision << ")\n";
}

void loadToolboxes(bool quiet) {
  ToolboxLoader loader;
  std::vector<std::string> installed;
  for (const fs::path &folder : installedFolders("lib/kolv")) installed.push_back(folder.string());
  loader.loadAll(ToolboxLoader::searchFolders(installed));
  if (quiet) return;
  for (const std::string &warning : loader.warnings())
    std::cerr << "kolv: warning: " << warning << '\n';
}

int dispatch(const std::vector<std::string> &args) {
  if (args.empty()) throw UsageError{"no command given"};
  const std::string &command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  bool quiet = std::find(args.begin(), args.end(), "--quiet") != args.end();
  registerFrameworkNodes();
  loadToolboxes(quiet);
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--version") {
    printVersion();
    return 0;
  }
  if (command == "nodes") return listNodes(rest);
  if (command == "run") return runNetwork(rest);
  throw UsageError{"unknown command " + command};
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return dispatch(args);
  } catch (UsageError &e) {
    std::cerr << "kolv: " << e.message << "\n" << kUsage;
  } catch (NetworkError &e) {
    std::cerr << "kolv: " << e.what() << '\n';
  } catch (BaseException *e) {
    std::cerr << "kolv: " << userText(e) << '\n';
    delete e;
  } catch (std::exception &e) {
    std::cerr << "kolv: " << e.what() << '\n';
  }
  return kUsageError;
}
