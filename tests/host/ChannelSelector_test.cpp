#include <gtest/gtest.h>

#include "TestNetwork.h"
#include "nodes/ChannelSelector.h"

namespace {

using KOLV::host::ChannelSelector;
using namespace kolvtest;

TEST(ChannelSelector, PassesOnTheChosenChannelOnly) {
  auto frame = floatMatrix(2, 3);
  for (int c = 0; c < 3; ++c) {
    (*frame)(0, c) = static_cast<float>(c);
    (*frame)(1, c) = static_cast<float>(10 + c);
  }
  FrameFeeder feeder({frame});
  ChannelSelector second("second", makeParams({{"CHANNEL", intValue(1)}}));
  wire(second, "AUDIO", feeder);
  KOLV::RCPtr<FloatMatrix> out = second.getOutput(0, 0);
  ASSERT_EQ(out->nrows(), 1);
  ASSERT_EQ(out->ncols(), 3);
  EXPECT_EQ((*out)(0, 2), 12.0f);
}

TEST(ChannelSelector, RefusesAChannelTheSignalLacks) {
  EXPECT_NE(thrownText([] { ChannelSelector("neg", makeParams({{"CHANNEL", intValue(-1)}})); })
                .find("CHANNEL is -1"),
            std::string::npos);
  FrameFeeder feeder({floatMatrix(2, 4)});
  ChannelSelector third("third", makeParams({{"CHANNEL", intValue(2)}}));
  wire(third, "AUDIO", feeder);
  std::string text = thrownText([&] { third.getOutput(0, 0); });
  EXPECT_NE(text.find("CHANNEL 2 asked of a signal of 2 channels at frame 0"), std::string::npos)
      << text;
}

}  // namespace
