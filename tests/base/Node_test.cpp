#include <gtest/gtest.h>

#include <memory>

#include "TestNetwork.h"

using namespace KOLV;
using kolvtest::FrameFeeder;

namespace {

// Records the order of its calculate() calls and, like a block-wise node,
// fills the slots of the next frames of its block through getOutput.
class BlockNode : public BufferedNode {
 public:
  BlockNode(int block) : BufferedNode("block", ParameterSet()), block_(block) {
    inputID = addInput("INPUT");
    outputID = addOutput("OUTPUT");
    processInOrder = true;
    setInputLookAhead(inputID, block);
    setOutputLookAhead(outputID, block);
  }
  void calculate(int, int count, Buffer &out) override {
    calls.push_back(count);
    out[count] = ObjectRef(new GenericType<int>(-1));
    if (count % block_ != 0) return;
    for (int j = count; j < count + block_; ++j) {
      RCPtr<GenericType<int>> in = getInput(inputID, j);
      RCPtr<GenericType<int>> slot = getOutput(outputID, j);
      slot->val() = in->val() * 10;
    }
  }
  std::vector<int> calls;

 private:
  int block_;
  int inputID, outputID;
};

class Thrower : public BufferedNode {
 public:
  Thrower() : BufferedNode("thrower", ParameterSet()) {
    addOutput("OUTPUT");
    processInOrder = true;
    setTypeName("Thrower");
  }
  void calculate(int, int count, Buffer &) override {
    if (count == 2) throw new ParsingException("bad frame");
  }
};

std::vector<ObjectRef> numbers(int n) {
  std::vector<ObjectRef> frames;
  for (int i = 0; i < n; ++i) frames.push_back(kolvtest::intValue(i));
  return frames;
}

TEST(BufferedNode, InOrderNodeComputesEveryFrameOnceInOrder) {
  FrameFeeder feeder(numbers(7), kolvtest::intValue(0));
  BlockNode node(3);
  kolvtest::wire(node, "INPUT", feeder);
  std::vector<int> seen;
  for (int f = 0; f < 7; ++f) {
    RCPtr<GenericType<int>> v = node.getOutput(0, f);
    seen.push_back(v->val());
  }
  // The block starting at frame 6 computes frames 7 and 8 too, nested.
  EXPECT_EQ(node.calls, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(seen, (std::vector<int>{0, 10, 20, 30, 40, 50, 60}));
  // The last block reads two frames past the end of the feeder's stream.
  EXPECT_EQ(feeder.highestRequested, 8);
}

TEST(BufferedNode, AskingForALaterFrameComputesTheOnesBefore) {
  FrameFeeder feeder(numbers(6));
  BlockNode node(2);
  kolvtest::wire(node, "INPUT", feeder);
  node.getOutput(0, 3);
  EXPECT_EQ(node.calls, (std::vector<int>{0, 1, 2, 3}));
  RCPtr<GenericType<int>> one = node.getOutput(0, 1);
  EXPECT_EQ(one->val(), 10);
  EXPECT_EQ(node.calls.size(), 4u);
}

TEST(BufferedNode, FailuresNameTheNodeAndFrame) {
  Thrower node;
  node.setOutputCapacity(0, 8);
  try {
    node.getOutput(0, 5);
    FAIL();
  } catch (NodeException *e) {
    std::unique_ptr<NodeException> owned(e);
    EXPECT_EQ(e->frame(), 2);
    EXPECT_EQ(e->text(), "node 'thrower' (Thrower) failed at frame 2: bad frame");
  }
}

TEST(BufferedNode, ReadingAReleasedFrameIsAnError) {
  FrameFeeder feeder(numbers(10));
  feeder.setOutputCapacity(0, 2);
  EXPECT_NO_THROW(feeder.getOutput(0, 5));
  EXPECT_NE(kolvtest::thrownText([&] { feeder.getOutput(0, 1); }).find("released"), std::string::npos);
}

}  // namespace
