#include "Network.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "ErrorText.h"
#include "GenericType.h"
#include "nodes/WaveSource.h"

namespace KOLV::host {

namespace {

// The node type that reads recordings: the stream's origin.
constexpr const char *kRecordingType = "WaveSource";

// Plain scalars of the YAML 1.2 core schema, matched by hand.
bool isDigit(char c, int base) {
  if (base == 8) return c >= '0' && c <= '7';
  if (base == 16) return std::isxdigit(static_cast<unsigned char>(c)) != 0;
  return c >= '0' && c <= '9';
}

// Skips digits of `base` from `at`; returns how many there were.
size_t skipDigits(const std::string &text, size_t &at, int base = 10) {
  size_t start = at;
  while (at < text.size() && isDigit(text[at], base)) ++at;
  return at - start;
}

void skipSign(const std::string &text, size_t &at) {
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
}

// [-+]?[0-9]+
bool isDecimalInt(const std::string &text) {
  size_t at = 0;
  skipSign(text, at);
  return skipDigits(text, at) > 0 && at == text.size();
}

// 0o[0-7]+ or 0x[0-9a-fA-F]+
bool isPrefixedInt(const std::string &text, const char *prefix, int base) {
  if (text.compare(0, 2, prefix) != 0) return false;
  size_t at = 2;
  return skipDigits(text, at, base) > 0 && at == text.size();
}

// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?
bool isDecimalFloat(const std::string &text) {
  size_t at = 0;
  skipSign(text, at);
  size_t whole = skipDigits(text, at);
  size_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    fraction = skipDigits(text, at);
  }
  if (whole == 0 && fraction == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    skipSign(text, at);
    if (skipDigits(text, at) == 0) return false;
  }
  return at == text.size();
}

// [-+]?\.(inf|Inf|INF)
bool isInfinity(const std::string &text) {
  size_t at = 0;
  skipSign(text, at);
  std::string rest = text.substr(at);
  return rest == ".inf" || rest == ".Inf" || rest == ".INF";
}

// \.(nan|NaN|NAN)
bool isNotANumber(const std::string &text) {
  return text == ".nan" || text == ".NaN" || text == ".NAN";
}

// yaml-cpp tags every quoted scalar with the non-specific tag "!".
constexpr const char *kQuotedTag = "!";
constexpr const char *kStringTag = "tag:yaml.org,2002:str";

ObjectRef intValue(const std::string &digits, int base) {
  errno = 0;
  char *end = nullptr;
  long long value = std::strtoll(digits.c_str(), &end, base);
  if (errno == ERANGE || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max())
    throw std::invalid_argument("the integer " + digits + " does not fit an int");
  return ObjectRef(new GenericType<int>(static_cast<int>(value)));
}

ObjectRef floatValue(const std::string &text) {
  if (isNotANumber(text))
    return ObjectRef(new GenericType<float>(std::numeric_limits<float>::quiet_NaN()));
  if (isInfinity(text)) {
    float inf = std::numeric_limits<float>::infinity();
    return ObjectRef(new GenericType<float>(text[0] == '-' ? -inf : inf));
  }
  float value = std::strtof(text.c_str(), nullptr);
  if (std::isinf(value))
    throw std::invalid_argument("the number " + text + " does not fit a float");
  return ObjectRef(new GenericType<float>(value));
}

std::string quoteList(const std::vector<std::string> &names) {
  std::string list;
  for (const std::string &name : names) list += (list.empty() ? "" : ", ") + name;
  return list.empty() ? "none" : list;
}

std::string parameterList(const NodeDescription &description) {
  std::vector<std::string> names;
  for (const ParameterInfo &p : description.parameters)
    names.push_back(p.name + " (" + valueTypeName(p.type) + ")");
  return quoteList(names);
}

ValueType valueTypeOf(const ObjectRef &value) {
  if (dynamic_cast<const GenericType<int> *>(value.get())) return ValueType::Int;
  if (dynamic_cast<const GenericType<float> *>(value.get())) return ValueType::Float;
  return ValueType::String;
}

// The framework's cast error for reading `value` as `wanted`.
std::string castErrorText(const ObjectRef &value, ValueType wanted) {
  std::string actual = typeid(*value.get()).name();
  BaseException *e = nullptr;
  switch (wanted) {
    case ValueType::Int:
      e = new CastException<int>(actual);
      break;
    case ValueType::Float:
      e = new CastException<float>(actual);
      break;
    case ValueType::String:
      e = new CastException<String>(actual);
      break;
  }
  std::string text = e->text();
  delete e;
  return text;
}

const char *castHint(ValueType wanted) {
  switch (wanted) {
    case ValueType::Int:
      return "write an int without a decimal point, e.g. 160";
    case ValueType::Float:
      return "write a float with a decimal point, e.g. 1.0";
    case ValueType::String:
      return "write a word or a quoted string, e.g. HANN or \"160\"";
  }
  return "";
}

int lineOf(const YAML::Node &node) { return node.Mark().line + 1; }

// "NAME.PORT" split at the last dot; false when there is none.
bool splitAtLastDot(const std::string &text, std::string &before, std::string &after) {
  size_t dot = text.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
  before = text.substr(0, dot);
  after = text.substr(dot + 1);
  return true;
}

// The object type of port `name` in `ports`, or "" when it is not described.
std::string portType(const std::vector<PortInfo> &ports, const std::string &name) {
  for (const PortInfo &port : ports)
    if (port.name == name) return port.objectType;
  return "";
}

std::string scalarText(const YAML::Node &node) { return node.IsScalar() ? node.Scalar() : ""; }

}  // namespace

ObjectRef typedValue(const std::string &text, bool quoted) {
  if (!quoted) {
    if (isDecimalInt(text)) return intValue(text, 10);
    if (isPrefixedInt(text, "0o", 8)) return intValue(text.substr(2), 8);
    if (isPrefixedInt(text, "0x", 16)) return intValue(text.substr(2), 16);
    if (isDecimalFloat(text) || isInfinity(text) || isNotANumber(text)) return floatValue(text);
  }
  return ObjectRef(new String(text));
}

ParameterOverride parseOverride(const std::string &assignment) {
  size_t equals = assignment.find('=');
  ParameterOverride result;
  if (equals == std::string::npos ||
      !splitAtLastDot(assignment.substr(0, equals), result.node, result.parameter))
    throw NetworkError("--set " + assignment + ": expected NODE.PARAM=VALUE");
  std::string value = assignment.substr(equals + 1);
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front();
  if (quoted) value = value.substr(1, value.size() - 2);
  try {
    result.value = typedValue(value, quoted);
  } catch (std::invalid_argument &e) {
    throw NetworkError("--set " + assignment + ": " + e.what());
  }
  result.text = assignment;
  return result;
}

std::vector<FrameRange> planBuffers(const std::vector<BufferedNode *> &nodes) {
  std::map<const Node *, size_t> index;
  for (size_t i = 0; i < nodes.size(); ++i) index[nodes[i]] = i;
  struct Read {
    size_t consumer;
    int input;
  };
  std::vector<std::vector<Read>> readers(nodes.size());
  for (size_t c = 0; c < nodes.size(); ++c)
    for (int i = 0; i < nodes[c]->numInputs(); ++i) {
      auto producer = index.find(nodes[c]->inputNode(i));
      if (producer != index.end()) readers[producer->second].push_back({c, i});
    }

  std::vector<FrameRange> ranges(nodes.size());
  std::vector<int> state(nodes.size(), 0);  // 0 unvisited, 1 in progress, 2 done
  // The frames a node computes while the run is at frame 0: the frames its
  // readers ask for, widened by its own outputs' look-ahead and look-back.
  std::function<FrameRange(size_t)> computed = [&](size_t n) -> FrameRange {
    if (state[n] == 1) throw std::logic_error("planBuffers: the network has a cycle");
    if (state[n] == 0) {
      state[n] = 1;
      FrameRange range;
      bool read = false;
      for (const Read &r : readers[n]) {
        FrameRange consumer = computed(r.consumer);
        const BufferedNode::InputRequest &request = nodes[r.consumer]->inputRequest(r.input);
        FrameRange reach{consumer.lowest - request.framesBack,
                         consumer.highest + request.framesAhead};
        range.lowest = read ? std::min(range.lowest, reach.lowest) : reach.lowest;
        range.highest = read ? std::max(range.highest, reach.highest) : reach.highest;
        read = true;
      }
      // A network end is run at the current frame itself.
      if (!read) range = FrameRange{0, 0};
      ranges[n] = range;
      state[n] = 2;
    }
    FrameRange own = ranges[n];
    for (int o = 0; o < nodes[n]->numOutputs(); ++o) {
      own.lowest = std::min(own.lowest, ranges[n].lowest - nodes[n]->outputRecord(o).framesBack);
      own.highest =
          std::max(own.highest, ranges[n].highest + nodes[n]->outputRecord(o).framesAhead);
    }
    return own;
  };

  for (size_t n = 0; n < nodes.size(); ++n) {
    computed(n);
    for (int o = 0; o < nodes[n]->numOutputs(); ++o) {
      const BufferedNode::OutputRecord &record = nodes[n]->outputRecord(o);
      nodes[n]->setOutputCapacity(o, ranges[n].highest - ranges[n].lowest + record.framesAhead +
                                         record.framesBack + 1 + kBufferMargin);
    }
  }
  return ranges;
}

std::unique_ptr<Network> Network::load(const std::string &path,
                                       const std::vector<ParameterOverride> &overrides) {
  std::unique_ptr<Network> network(new Network);
  network->file_ = path;
  network->readFile();
  network->build(overrides);
  return network;
}

std::unique_ptr<Network> Network::parse(const std::string &text, const std::string &name,
                                        const std::vector<ParameterOverride> &overrides) {
  std::unique_ptr<Network> network(new Network);
  network->file_ = name;
  network->readFile(&text);
  network->build(overrides);
  return network;
}

std::string Network::where(int line, const Entry &entry) const {
  return file_ + ":" + std::to_string(line) + ": node '" + entry.name + "'" +
         (entry.type.empty() ? "" : " (" + entry.type + ")");
}

void Network::readFile(const std::string *text) {
  YAML::Node root;
  try {
    root = text ? YAML::Load(*text) : YAML::LoadFile(file_);
  } catch (YAML::BadFile &) {
    throw NetworkError(file_ + ": cannot read the network file");
  } catch (YAML::ParserException &e) {
    throw NetworkError(file_ + ":" + std::to_string(e.mark.line + 1) +
                       ": YAML syntax error: " + e.msg);
  }
  if (!root.IsMap() || !root["nodes"])
    throw NetworkError(file_ + ": a network file is a map with the key 'nodes'");
  for (auto it = root.begin(); it != root.end(); ++it)
    if (scalarText(it->first) != "nodes")
      throw NetworkError(file_ + ":" + std::to_string(lineOf(it->first)) + ": unknown key '" +
                         scalarText(it->first) + "' (a network file has only 'nodes')");
  YAML::Node nodes = root["nodes"];
  if (!nodes.IsMap() || nodes.size() == 0)
    throw NetworkError(file_ + ":" + std::to_string(lineOf(nodes)) +
                       ": 'nodes' must map node names to node descriptions");

  std::map<std::string, int> firstLine;
  for (auto it = nodes.begin(); it != nodes.end(); ++it) {
    Entry entry;
    entry.name = scalarText(it->first);
    entry.line = lineOf(it->first);
    if (entry.name.empty())
      throw NetworkError(file_ + ":" + std::to_string(entry.line) + ": a node name must be a word");
    if (firstLine.count(entry.name))
      throw NetworkError(where(entry.line, entry) +
                         ": duplicate node name (first defined on line " +
                         std::to_string(firstLine[entry.name]) + ")");
    firstLine[entry.name] = entry.line;
    YAML::Node body = it->second;
    if (!body.IsMap())
      throw NetworkError(where(entry.line, entry) +
                         ": expected a map with type, params and inputs");
    std::vector<Binding> bindings;
    std::set<std::string> keys;
    for (auto field = body.begin(); field != body.end(); ++field) {
      std::string key = scalarText(field->first);
      YAML::Node value = field->second;
      int line = lineOf(field->first);
      if (!keys.insert(key).second)
        throw NetworkError(where(line, entry) + ": '" + key + "' is given twice");
      if (key == "type") {
        entry.type = scalarText(value);
        if (entry.type.empty())
          throw NetworkError(where(line, entry) + ": 'type' must be a node type name");
      } else if (key == "params") {
        if (!value.IsMap() && !value.IsNull())
          throw NetworkError(where(line, entry) + ": 'params' must map parameter names to values");
        for (auto param = value.begin(); value.IsMap() && param != value.end(); ++param) {
          std::string name = scalarText(param->first);
          int paramLine = lineOf(param->first);
          if (entry.params.exist(name))
            throw NetworkError(where(paramLine, entry) + ": parameter " + name + " is given twice");
          if (!param->second.IsScalar())
            throw NetworkError(where(paramLine, entry) + ": parameter " + name +
                               " needs a single value (a number or a string)");
          const std::string &tag = param->second.Tag();
          try {
            entry.params.add(
                name, typedValue(param->second.Scalar(), tag == kQuotedTag || tag == kStringTag));
          } catch (std::invalid_argument &e) {
            throw NetworkError(where(paramLine, entry) + ": parameter " + name + ": " + e.what());
          }
        }
      } else if (key == "inputs") {
        if (!value.IsMap() && !value.IsNull())
          throw NetworkError(where(line, entry) + ": 'inputs' must map input ports to NODE.PORT");
        for (auto input = value.begin(); value.IsMap() && input != value.end(); ++input)
          bindings.push_back(
              {scalarText(input->first), scalarText(input->second), lineOf(input->first)});
      } else {
        throw NetworkError(where(line, entry) + ": unknown key '" + key +
                           "' (a node has type, params and inputs)");
      }
    }
    if (entry.type.empty()) throw NetworkError(where(entry.line, entry) + ": no 'type' given");
    entries_.push_back(std::move(entry));
    bindings_.push_back(std::move(bindings));
  }
}

Network::Entry *Network::find(const std::string &name) {
  for (Entry &entry : entries_)
    if (entry.name == name) return &entry;
  return nullptr;
}

void Network::build(const std::vector<ParameterOverride> &overrides) {
  for (const ParameterOverride &o : overrides) {
    Entry *entry = find(o.node);
    if (!entry)
      throw NetworkError(file_ + ": --set " + o.text + ": no node named '" + o.node + "'");
    entry->params.add(o.parameter, o.value);
  }
  // Every node is checked before any is built: building may open files or
  // start reading standard input.
  for (Entry &entry : entries_) check(entry);
  applyStreams();
  for (Entry &entry : entries_) checkComplete(entry);
  // The recordings are opened first: a network that cannot take them is
  // refused before any other node opens a file.
  for (Entry &entry : entries_)
    if (isRecording(entry)) construct(entry);
  checkRecordings();
  for (Entry &entry : entries_)
    if (!entry.node) construct(entry);
  for (size_t i = 0; i < entries_.size(); ++i) connect(entries_[i], bindings_[i]);
  checkAcyclic();
  planBuffers(nodes());
}

void Network::check(const Entry &entry) {
  _NodeFactory *factory = Node::getFactoryNamed(entry.type);
  if (!factory) {
    std::vector<std::string> known;
    for (_NodeFactory *f : Node::factories()) known.push_back(f->getName());
    std::sort(known.begin(), known.end());
    throw NetworkError(where(entry.line, entry) +
                       ": unknown node type (known types: " + quoteList(known) + ")");
  }
  const NodeDescription *description = factory->description();
  if (!description) return;
  for (const std::string &name : entry.params.names()) {
    const ParameterInfo *info = description->parameter(name);
    if (!info)
      throw NetworkError(where(entry.line, entry) + ": takes no parameter " + name +
                         " (it takes " + parameterList(*description) + ")");
    ObjectRef value = entry.params.get(name);
    if (valueTypeOf(value) != info->type)
      throw NetworkError(where(entry.line, entry) + ": parameter " + name + ": " +
                         castErrorText(value, info->type) + " (" + castHint(info->type) + ")");
    const std::string refusal = info->refusal(value);
    if (!refusal.empty()) throw NetworkError(where(entry.line, entry) + ": " + refusal);
    const std::string warning = info->warning(value);
    if (!warning.empty())
      warnings_.push_back(where(entry.line, entry) + ": " + warning +
                          "; the node treats it as none of them");
  }
}

void Network::checkComplete(const Entry &entry) const {
  const NodeDescription *description = Node::getFactoryNamed(entry.type)->description();
  if (!description) return;
  for (const ParameterInfo &p : description->parameters)
    if (!p.hasDefault && !entry.params.exist(p.name))
      throw NetworkError(where(entry.line, entry) + ": parameter " + p.name + " (" +
                         valueTypeName(p.type) + ") is not given" +
                         (p.stream != StreamProperty::None && !p.streamOrigin
                              ? std::string(", and no audio stream reaches the node to take it from")
                              : std::string()) +
                         " (it takes " + parameterList(*description) + ")");
}

namespace {

// The field of `stream` that holds `property`; null for none.
int *streamField(Network::Stream &stream, StreamProperty property) {
  switch (property) {
    case StreamProperty::SamplingRate:
      return &stream.samplingRate;
    case StreamProperty::Advance:
      return &stream.advance;
    case StreamProperty::Length:
      return &stream.length;
    case StreamProperty::None:
      break;
  }
  return nullptr;
}

}  // namespace

// The stream leaving node `index`: the one its source states, passed on by
// every node between, in the form each node's description gives it.
Network::Stream Network::streamOut(size_t index, std::vector<int> &state,
                                   std::vector<Stream> &streams) {
  if (state[index] == 2 || state[index] == 1) return streams[index];  // done, or a cycle
  state[index] = 1;
  Entry &entry = entries_[index];
  const NodeDescription *description = Node::getFactoryNamed(entry.type)->description();
  Stream in;
  for (const Binding &b : bindings_[index]) {
    std::string producer, port;
    if (!splitAtLastDot(b.target, producer, port)) continue;
    for (size_t p = 0; p < entries_.size(); ++p)
      if (entries_[p].name == producer) {
        Stream s = streamOut(p, state, streams);
        if (in.origin.empty() && !s.origin.empty()) in = s;
      }
  }
  Stream out = in;
  if (description) {
    for (const ParameterInfo &p : description->parameters) {
      if (p.stream == StreamProperty::None || p.type != ValueType::Int) continue;
      int *own = streamField(out, p.stream);
      int *reaching = streamField(in, p.stream);
      if (p.streamOrigin) {
        *own = p.readInt(entry.params);
        out.origin = entry.name;
        continue;
      }
      if (in.origin.empty() || *reaching == 0) continue;
      if (!entry.params.exist(p.name)) {
        entry.params.add(p.name, ObjectRef(new GenericType<int>(*reaching)));
        continue;
      }
      const int given = dereference_cast<int>(entry.params.get(p.name));
      if (given != *reaching)
        throw NetworkError(where(entry.line, entry) + ": parameter " + p.name + " is " +
                           std::to_string(given) + (p.unit.empty() ? "" : " " + p.unit) +
                           ", but the stream that reaches it from node '" + in.origin +
                           "' has a " + streamPropertyName(p.stream) + " of " +
                           std::to_string(*reaching) + (p.unit.empty() ? "" : " " + p.unit) +
                           " (leave " + p.name + " out to take the stream's)");
    }
    if (description->outputFramesOfAdvance) out.length = out.advance;
  }
  streams[index] = out;
  state[index] = 2;
  return out;
}

void Network::applyStreams() {
  std::vector<int> state(entries_.size(), 0);
  std::vector<Stream> streams(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) streamOut(i, state, streams);
}

bool Network::isRecording(const Entry &entry) const { return entry.type == kRecordingType; }

const Network::Entry *Network::producerOf(const Binding &binding) const {
  std::string producer, port;
  if (!splitAtLastDot(binding.target, producer, port)) return nullptr;
  for (const Entry &entry : entries_)
    if (entry.name == producer) return &entry;
  return nullptr;
}

void Network::checkRecordings() {
  // The channels leaving each node and the recording they come from, as far
  // as the bindings lead back to one; a cycle or a dangling binding leads
  // nowhere (connecting the network reports those).
  struct Reach {
    int channels = 0;
    const WaveSource *recording = nullptr;
  };
  std::map<const Entry *, Reach> reached;
  std::set<const Entry *> visiting;
  std::function<Reach(const Entry &)> out = [&](const Entry &entry) -> Reach {
    auto known = reached.find(&entry);
    if (known != reached.end()) return known->second;
    if (!visiting.insert(&entry).second) return {};
    Reach result;
    if (isRecording(entry)) {
      // A stand-in of another class (the network fuzzer's) reads no recording.
      if (const auto *source = dynamic_cast<const WaveSource *>(entry.node.get()))
        result = {source->channels(), source};
    } else {
      const size_t index = static_cast<size_t>(&entry - entries_.data());
      for (const Binding &b : bindings_[index]) {
        const Entry *producer = producerOf(b);
        if (producer && !result.recording) result = out(*producer);
      }
      const NodeDescription *description = Node::getFactoryNamed(entry.type)->description();
      if (description && description->singleChannelOutput && result.recording) result.channels = 1;
    }
    reached[&entry] = result;
    return result;
  };
  for (size_t index = 0; index < entries_.size(); ++index) {
    const Entry &entry = entries_[index];
    const NodeDescription *description = Node::getFactoryNamed(entry.type)->description();
    if (!description) continue;
    for (const Binding &b : bindings_[index]) {
      const PortInfo *port = nullptr;
      for (const PortInfo &p : description->inputs)
        if (p.name == b.port) port = &p;
      const Entry *producer = producerOf(b);
      if (!port || port->minChannels == 0 || !producer) continue;
      const Reach reach = out(*producer);
      if (reach.recording && reach.channels < port->minChannels)
        throw NetworkError(where(entry.line, entry) + ": input " + port->name + " needs at least " +
                           std::to_string(port->minChannels) + " channels, but " +
                           reach.recording->inputName() + " (node '" +
                           reach.recording->getName() + "') has " +
                           std::to_string(reach.channels));
    }
    for (const ParameterInfo &p : description->parameters) {
      if (!p.learningPeriod || !entry.params.exist(p.name) || isRecording(entry)) continue;
      const Reach reach = out(entry);
      const double seconds = reach.recording ? reach.recording->durationSeconds() : -1.0;
      const float period = dereference_cast<float>(entry.params.get(p.name));
      if (seconds >= 0.0 && seconds < period) {
        std::ostringstream text;
        text << where(entry.line, entry) << ": " << reach.recording->inputName() << " lasts "
             << seconds << " s, less than its " << p.name << " of " << period
             << " s: the whole recording falls in the period the node learns its noise from, "
                "and the node gives no result for it";
        warnings_.push_back(text.str());
      }
    }
  }
}

void Network::construct(Entry &entry) {
  _NodeFactory *factory = Node::getFactoryNamed(entry.type);
  Node *made = nullptr;
  try {
    made = factory->Create(entry.name, entry.params);
  } catch (BaseException *e) {
    std::string text = withoutNodePrefix(userText(e), entry.name);
    delete e;
    throw NetworkError(where(entry.line, entry) + ": " + text);
  } catch (std::exception &e) {
    throw NetworkError(where(entry.line, entry) + ": " + e.what());
  }
  entry.node.reset(dynamic_cast<BufferedNode *>(made));
  if (!entry.node) {
    delete made;
    throw NetworkError(where(entry.line, entry) + ": the node type is not a buffered node");
  }
  entry.node->setTypeName(entry.type);
}

void Network::connect(Entry &entry, const std::vector<Binding> &bindings) {
  BufferedNode &node = *entry.node;
  std::vector<std::string> inputs;
  for (int i = 0; i < node.numInputs(); ++i) inputs.push_back(node.inputName(i));
  std::set<std::string> bound;
  for (const Binding &b : bindings) {
    int input = node.findInput(b.port);
    if (input < 0)
      throw NetworkError(where(b.line, entry) + ": no input port '" + b.port +
                         "' (its inputs: " + quoteList(inputs) + ")");
    if (!bound.insert(b.port).second)
      throw NetworkError(where(b.line, entry) + ": input " + b.port + " is bound twice");
    std::string producerName, port;
    if (!splitAtLastDot(b.target, producerName, port))
      throw NetworkError(where(b.line, entry) + ": input " + b.port + ": '" + b.target +
                         "' is not of the form NODE.PORT");
    Entry *producer = find(producerName);
    if (!producer)
      throw NetworkError(where(b.line, entry) + ": input " + b.port + ": no node named '" +
                         producerName + "'");
    int output = producer->node->findOutput(port);
    if (output < 0) {
      std::vector<std::string> outputs;
      for (int o = 0; o < producer->node->numOutputs(); ++o)
        outputs.push_back(producer->node->outputName(o));
      throw NetworkError(where(b.line, entry) + ": input " + b.port + ": node '" + producerName +
                         "' has no output port '" + port + "' (its outputs: " + quoteList(outputs) +
                         ")");
    }
    checkPortTypes(entry, b, *producer, port);
    node.connectInput(input, producer->node.get(), output);
  }
  for (const std::string &input : inputs)
    if (!bound.count(input))
      throw NetworkError(where(entry.line, entry) + ": input " + input + " is not bound");
}

void Network::checkPortTypes(const Entry &consumer, const Binding &binding, const Entry &producer,
                             const std::string &outputPort) const {
  const NodeDescription *in = Node::getFactoryNamed(consumer.type)->description();
  const NodeDescription *out = Node::getFactoryNamed(producer.type)->description();
  if (!in || !out) return;
  std::string wanted = portType(in->inputs, binding.port);
  std::string given = portType(out->outputs, outputPort);
  // Ports that take or give any object, or describe their frames in words,
  // are not checked.
  if (!Object::hasObjectType(wanted) || !Object::hasObjectType(given) || wanted == given) return;
  throw NetworkError(where(binding.line, consumer) + ": input " + binding.port + " takes " +
                     wanted + " frames, but " + binding.target + " gives " + given);
}

void Network::checkAcyclic() const {
  std::map<const Node *, const Entry *> byNode;
  for (const Entry &entry : entries_) byNode[entry.node.get()] = &entry;
  std::map<const Node *, int> state;  // 1 on the current path, 2 finished
  std::vector<const Entry *> path;
  std::function<void(const Entry &)> visit = [&](const Entry &entry) {
    const Node *node = entry.node.get();
    if (state[node] == 2) return;
    if (state[node] == 1) {
      std::string cycle;
      auto start = std::find(path.begin(), path.end(), &entry);
      for (auto it = start; it != path.end(); ++it) cycle += (*it)->name + " <- ";
      throw NetworkError(where(entry.line, entry) + ": the network has a cycle: " + cycle +
                         entry.name);
    }
    state[node] = 1;
    path.push_back(&entry);
    for (int i = 0; i < node->numInputs(); ++i) visit(*byNode.at(node->inputNode(i)));
    path.pop_back();
    state[node] = 2;
  };
  for (const Entry &entry : entries_) visit(entry);
}

std::vector<BufferedNode *> Network::nodes() const {
  std::vector<BufferedNode *> all;
  for (const Entry &entry : entries_) all.push_back(entry.node.get());
  return all;
}

std::vector<BufferedNode *> Network::sources() const {
  std::vector<BufferedNode *> found;
  for (const Entry &entry : entries_)
    if (entry.node->numInputs() == 0) found.push_back(entry.node.get());
  return found;
}

std::vector<BufferedNode *> Network::ends() const {
  std::set<const Node *> producers;
  for (const Entry &entry : entries_)
    for (int i = 0; i < entry.node->numInputs(); ++i) producers.insert(entry.node->inputNode(i));
  std::vector<BufferedNode *> found;
  for (const Entry &entry : entries_)
    if (!producers.count(entry.node.get())) found.push_back(entry.node.get());
  return found;
}

}  // namespace KOLV::host
