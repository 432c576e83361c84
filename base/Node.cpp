#include "Node.h"

#include <chrono>
#include <exception>
#include <typeinfo>

namespace KOLV {

namespace {
// The factories live as long as the process; the list itself is never freed
// so that leak checkers still see them at exit.
std::vector<_NodeFactory *> &factoryList() {
  static auto *list = new std::vector<_NodeFactory *>;
  return *list;
}

bool profiling = false;
// Total time of the calculate() calls nested in the one now running.
double nestedSeconds = 0.0;
}  // namespace

Node::Node(std::string nodeName, const ParameterSet &params)
    : parameters(params), name_(std::move(nodeName)) {}

Node::~Node() = default;

ObjectRef Node::getInput(int input_id, int count) {
  if (input_id < 0 || input_id >= numInputs())
    throw new GeneralException(name_ + ": no input with id " + std::to_string(input_id), __FILE__,
                               __LINE__);
  const InputLink &link = inputs_[input_id];
  if (!link.node)
    throw new GeneralException(name_ + ": input " + link.name + " is not connected", __FILE__,
                               __LINE__);
  return link.node->getOutput(link.outputId, count);
}

int Node::findInput(const std::string &portName) const {
  for (int i = 0; i < numInputs(); ++i)
    if (inputs_[i].name == portName) return i;
  return -1;
}

int Node::findOutput(const std::string &portName) const {
  for (int i = 0; i < numOutputs(); ++i)
    if (outputNames_[i] == portName) return i;
  return -1;
}

void Node::connectInput(int inputId, Node *from, int outputId) {
  InputLink &link = inputs_.at(inputId);
  link.node = from;
  link.outputId = outputId;
}

int Node::addInput(const std::string &portName) {
  inputs_.push_back({portName, nullptr, -1});
  return numInputs() - 1;
}

int Node::addOutput(const std::string &portName) {
  outputNames_.push_back(portName);
  return numOutputs() - 1;
}

void Node::addFactory(const std::string &name, _NodeFactory *factory) {
  for (_NodeFactory *&known : factoryList()) {
    if (known->getName() == name) {
      known = factory;
      return;
    }
  }
  factoryList().push_back(factory);
}

_NodeFactory *Node::getFactoryNamed(const std::string &name) {
  for (_NodeFactory *factory : factoryList())
    if (factory->getName() == name) return factory;
  return nullptr;
}

const std::vector<_NodeFactory *> &Node::factories() { return factoryList(); }

BufferedNode::BufferedNode(std::string nodeName, const ParameterSet &params)
    : Node(std::move(nodeName), params) {
  noOutput_.setOwner(getName());
}

int BufferedNode::addInput(const std::string &portName) {
  int id = Node::addInput(portName);
  inputsCache.emplace_back();
  return id;
}

int BufferedNode::addOutput(const std::string &portName) {
  int id = Node::addOutput(portName);
  outputs.emplace_back();
  outputs.back().buffer.setOwner(getName() + " output " + portName);
  return id;
}

void BufferedNode::setOutputCapacity(int id, int frames) { outputs.at(id).buffer.resize(frames); }

void BufferedNode::setProfiling(bool on) { profiling = on; }

void BufferedNode::checkOutputId(int output_id) const {
  if (output_id < 0 || output_id >= numOutputs())
    throw new GeneralException(getName() + ": no output with id " + std::to_string(output_id),
                               __FILE__, __LINE__);
}

ObjectRef BufferedNode::getOutput(int output_id, int count) {
  checkOutputId(output_id);
  if (count < 0)
    throw new GeneralException(getName() + ": frame " + std::to_string(count) + " requested",
                               __FILE__, __LINE__);
  Buffer &buffer = outputs[output_id].buffer;
  if (processInOrder) {
    while (processCount_ < count) runCalculate(output_id, ++processCount_);
  } else if (!buffer.holds(count) || !buffer[count]) {
    runCalculate(output_id, count);
  }
  return buffer[count];
}

void BufferedNode::computeFrame(int count) {
  if (numOutputs() > 0) {
    getOutput(0, count);
    return;
  }
  if (processInOrder) {
    while (processCount_ < count) runCalculate(-1, ++processCount_);
  } else {
    runCalculate(-1, count);
  }
}

void BufferedNode::runCalculate(int output_id, int count) {
  Buffer &out = output_id >= 0 ? outputs[output_id].buffer : noOutput_;
  using Clock = std::chrono::steady_clock;
  Clock::time_point start;
  double outerNested = 0.0;
  if (profiling) {
    start = Clock::now();
    outerNested = nestedSeconds;
    nestedSeconds = 0.0;
  }
  try {
    calculate(output_id, count, out);
  } catch (NodeException *) {
    throw;
  } catch (BaseException *e) {
    throw new NodeException(getName(), typeName(), count, e);
  } catch (std::exception &e) {
    throw new NodeException(getName(), typeName(), count, e.what());
  }
  ++calculateCalls_;
  if (profiling) {
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    profileSeconds_ += elapsed - nestedSeconds;
    nestedSeconds = outerNested + elapsed;
  }
}

}  // namespace KOLV
