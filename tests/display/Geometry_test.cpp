#include <gtest/gtest.h>
#include "DisplayGeometry.h"
TEST(Placeholder, Builds) { SUCCEED(); }
