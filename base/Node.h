// Nodes of a network and their factories. A node declares named inputs and
// outputs; the framework connects each input to an output of another node and
// pulls frames: a node's getOutput(output, count) computes frame `count` on
// demand, reading its own inputs with getInput.
#ifndef KOLV_NODE_H
#define KOLV_NODE_H

#include <string>
#include <vector>

#include "Buffer.h"
#include "NodeDescription.h"
#include "Object.h"
#include "ParameterSet.h"

namespace KOLV {

class Node {
 public:
  Node(std::string nodeName, const ParameterSet &params);
  virtual ~Node();
  Node(const Node &) = delete;
  Node &operator=(const Node &) = delete;

  // Called once after the network is connected, before the first frame.
  virtual void initialize() {}
  // Called once when the run ends (at the end of the stream, after --frames,
  // or after a failure): sinks finish their files here.
  virtual void finish() {}
  // For nodes without inputs (the ends of the stream): whether frame `count`
  // holds data. The run stops at the first frame that some source lacks.
  virtual bool frameExists(int /*count*/) { return true; }

  virtual ObjectRef getOutput(int output_id, int count) = 0;
  // Frame `count` of an input, computed upstream on demand.
  ObjectRef getInput(int input_id, int count);

  const std::string &getName() const { return name_; }
  const std::string &typeName() const { return typeName_; }
  void setTypeName(std::string type) { typeName_ = std::move(type); }

  int numInputs() const { return static_cast<int>(inputs_.size()); }
  int numOutputs() const { return static_cast<int>(outputNames_.size()); }
  const std::string &inputName(int id) const { return inputs_.at(id).name; }
  const std::string &outputName(int id) const { return outputNames_.at(id); }
  // The id of a port by name, or -1.
  int findInput(const std::string &portName) const;
  int findOutput(const std::string &portName) const;

  // Binds input `inputId` to output `outputId` of `from`.
  void connectInput(int inputId, Node *from, int outputId);
  Node *inputNode(int id) const { return inputs_.at(id).node; }
  int inputSourceOutput(int id) const { return inputs_.at(id).outputId; }

  static void addFactory(const std::string &name, class _NodeFactory *factory);
  // The factory registered under `name`, or null.
  static _NodeFactory *getFactoryNamed(const std::string &name);
  static const std::vector<_NodeFactory *> &factories();

 protected:
  virtual int addInput(const std::string &portName);
  virtual int addOutput(const std::string &portName);

  ParameterSet parameters;

 private:
  struct InputLink {
    std::string name;
    Node *node = nullptr;
    int outputId = -1;
  };
  std::string name_;
  std::string typeName_;
  std::vector<InputLink> inputs_;
  std::vector<std::string> outputNames_;
};

// A node whose outputs keep their recent frames in buffers. With the in-order
// flag set, frames are computed once each, 0, 1, 2, ..., whatever frame is
// asked for first.
class BufferedNode : public Node {
 public:
  // Per input: how many frames past and before the current one the node reads.
  struct InputRequest {
    int framesAhead = 0;
    int framesBack = 0;
  };
  // Per output: its frames, and how far past and before the current frame its
  // slots must stay writable and readable.
  struct OutputRecord {
    Buffer buffer;
    int framesAhead = 0;
    int framesBack = 0;
  };

  BufferedNode(std::string nodeName, const ParameterSet &params);

  ObjectRef getOutput(int output_id, int count) override;
  // Computes frame `count` (and, in order, all before it); the way to drive a
  // node that has no outputs.
  void computeFrame(int count);
  // Computes frame `count` of the node's outputs.
  virtual void calculate(int output_id, int count, Buffer &out) = 0;

  const InputRequest &inputRequest(int id) const { return inputsCache.at(id); }
  const OutputRecord &outputRecord(int id) const { return outputs.at(id); }
  // Sets how many frames output `id` keeps; the network sizes every buffer
  // from the look-ahead and look-back of all the nodes that read it.
  void setOutputCapacity(int id, int frames);
  bool inOrder() const { return processInOrder; }
  // The last frame computed in order, or -1.
  int lastComputedFrame() const { return processCount_; }

  // Time spent in this node's own calculate(), without the upstream nodes it
  // pulled from; measured only while profiling is on.
  double profileSeconds() const { return profileSeconds_; }
  long long calculateCalls() const { return calculateCalls_; }
  static void setProfiling(bool on);

 protected:
  int addInput(const std::string &portName) override;
  int addOutput(const std::string &portName) override;

  void setInputLookAhead(int id, int frames) { inputsCache.at(id).framesAhead = frames; }
  void setInputLookBack(int id, int frames) { inputsCache.at(id).framesBack = frames; }
  void setOutputLookAhead(int id, int frames) { outputs.at(id).framesAhead = frames; }
  void setOutputLookBack(int id, int frames) { outputs.at(id).framesBack = frames; }
  // The buffer of output `id`, for nodes that fill several outputs per frame.
  Buffer &outputBuffer(int id) { return outputs.at(id).buffer; }

  bool processInOrder = false;
  std::vector<InputRequest> inputsCache;
  std::vector<OutputRecord> outputs;

 private:
  void runCalculate(int output_id, int count);
  void checkOutputId(int output_id) const;

  int processCount_ = -1;
  Buffer noOutput_;  // handed to calculate() of nodes without outputs
  double profileSeconds_ = 0.0;
  long long calculateCalls_ = 0;
};

class _NodeFactory {
 public:
  explicit _NodeFactory(std::string name, const NodeDescription *description = nullptr)
      : name_(std::move(name)), description_(description) {}
  virtual std::string getName() const { return name_; }
  virtual Node *Create(const std::string &name, const ParameterSet &params) = 0;
  virtual ~_NodeFactory() = default;
  // The node type's ports and parameter table, when it has one.
  const NodeDescription *description() const { return description_; }

 private:
  std::string name_;
  const NodeDescription *description_;
};

template <class T>
class NodeFactory : public _NodeFactory {
 public:
  explicit NodeFactory(const std::string &name) : _NodeFactory(name, &T::description()) {}
  Node *Create(const std::string &name, const ParameterSet &params) override {
    std::string nameCopy = name;
    ParameterSet paramsCopy = params;
    return new T(nameCopy, paramsCopy);
  }
};

// Registers node class T under `className`; the framework keeps the factory
// for the life of the process.
template <class T>
void registerNodeType(const char *className) {
  Node::addFactory(className, new NodeFactory<T>(className));
}

}  // namespace KOLV

#endif
