#include <gtest/gtest.h>

#include "Buffer.h"
#include "TestNetwork.h"

using namespace KOLV;

namespace {

TEST(Buffer, KeepsTheLastCapacityFramesAndReleasesOlderOnes) {
  Buffer buffer(3);
  ObjectRef element = kolvtest::intValue(1);
  for (int f = 0; f < 5; ++f) buffer[f] = element;
  EXPECT_EQ(element->refCount(), 4);  // frames 2, 3, 4 and the local reference
  EXPECT_FALSE(buffer.holds(1));
  EXPECT_TRUE(buffer.holds(2));
  EXPECT_EQ(buffer.oldestFrame(), 2);
  EXPECT_EQ(buffer.newestFrame(), 4);
  try {
    buffer[1];
    FAIL();
  } catch (GeneralException *e) {
    EXPECT_NE(e->message().find("released"), std::string::npos);
    delete e;
  }
}

}  // namespace
