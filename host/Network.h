// Networks described in YAML: nodes with typed parameters and input
// bindings, checked, built, connected and given buffers that keep exactly the
// frames their consumers can reach.
#ifndef KOLV_HOST_NETWORK_H
#define KOLV_HOST_NETWORK_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Node.h"
#include "Object.h"
#include "ParameterSet.h"

namespace KOLV::host {

// A network that cannot be built, or a command line that cannot be used.
class NetworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value object of a scalar by the YAML 1.2 core schema: an integer
// literal is an int, one with a decimal point or an exponent a float, every
// other scalar and every quoted one a string. Throws std::invalid_argument
// for a number that does not fit its type.
ObjectRef typedValue(const std::string &text, bool quoted);

// One --set NODE.PARAM=VALUE.
struct ParameterOverride {
  std::string node;
  std::string parameter;
  ObjectRef value;
  std::string text;  // as given, for messages
};
// Parses "NODE.PARAM=VALUE"; VALUE in single or double quotes is a string.
// Throws NetworkError for another form.
ParameterOverride parseOverride(const std::string &assignment);

// The frames of a node's outputs, relative to the frame being run, that some
// consumer can still read: [lowest, highest].
struct FrameRange {
  int lowest = 0;
  int highest = 0;
};

// Extra slots beyond what the declared look-ahead and look-back need.
constexpr int kBufferMargin = 1;

// Sizes every output buffer of the connected `nodes` (producers before or
// after their consumers, any order) from the look-ahead and look-back that
// the consumers declare, and returns each node's range of frames.
std::vector<FrameRange> planBuffers(const std::vector<BufferedNode *> &nodes);

class Network {
 public:
  // The stream that reaches a node: what its source states.
  struct Stream {
    int samplingRate = 0;  // 0: not known
    int advance = 0;
    int length = 0;
    std::string origin;  // the node that states it
  };

  struct Entry {
    std::string name;
    std::string type;
    int line = 0;  // of the node's name in the file
    ParameterSet params;
    std::unique_ptr<BufferedNode> node;
  };

  // Reads, checks and builds the network in `path`, applying `overrides`
  // to the parameters. Throws NetworkError with a message naming the file,
  // the line and the node.
  static std::unique_ptr<Network> load(const std::string &path,
                                       const std::vector<ParameterOverride> &overrides = {});

  // Reads, checks and builds the network described by the YAML `text`, as
  // load() does a file; messages name it `name`.
  static std::unique_ptr<Network> parse(const std::string &text, const std::string &name,
                                        const std::vector<ParameterOverride> &overrides = {});

  const std::string &file() const { return file_; }
  // What the user should know about the network as built (a value a node
  // will treat as "none", a recording shorter than a learning period).
  const std::vector<std::string> &warnings() const { return warnings_; }
  // In the order of the file.
  const std::vector<Entry> &entries() const { return entries_; }
  std::vector<BufferedNode *> nodes() const;
  // Nodes without inputs: they decide how many frames the run has.
  std::vector<BufferedNode *> sources() const;
  // Nodes none of whose outputs is bound: the run computes their frames.
  std::vector<BufferedNode *> ends() const;

 private:
  struct Binding {
    std::string port;
    std::string target;  // NODE.PORT
    int line = 0;
  };

  // Reads the file, or `text` when it is given.
  void readFile(const std::string *text = nullptr);
  void build(const std::vector<ParameterOverride> &overrides);
  // The parameters given: names, types and accepted values.
  void check(const Entry &entry);
  // Fills the stream-bound parameters a node leaves out from the stream that
  // reaches it and refuses those that disagree with it.
  void applyStreams();
  Stream streamOut(size_t index, std::vector<int> &state, std::vector<Stream> &streams);
  // Every parameter without a default is given.
  void checkComplete(const Entry &entry) const;
  // Each input gets at least the channels it needs; recordings last at least
  // the nodes' learning periods.
  void checkRecordings();
  const Entry *entryOf(const Node *node) const;
  void construct(Entry &entry);
  void connect(Entry &entry, const std::vector<Binding> &bindings);
  void checkPortTypes(const Entry &consumer, const Binding &binding, const Entry &producer,
                      const std::string &outputPort) const;
  void checkAcyclic() const;
  Entry *find(const std::string &name);
  std::string where(int line, const Entry &entry) const;

  std::string file_;
  std::vector<Entry> entries_;
  std::vector<std::vector<Binding>> bindings_;  // per entry
  std::vector<std::string> warnings_;
};

}  // namespace KOLV::host

#endif
