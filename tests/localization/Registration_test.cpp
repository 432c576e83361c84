#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "Node.h"

TEST(Registration, ToolboxRegistersTheLocalizationNodesInOrder) {
  void *toolbox = dlopen(KOLV_TOOLBOX_FILE, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(toolbox, nullptr) << dlerror();
  // The factories live as long as the process; the registry that holds them is
  // torn down with the other statics before the leak checker looks, so keep
  // them reachable from here as well.
  static auto *factoriesForLife = new std::vector<KOLV::_NodeFactory *>();
  *factoriesForLife = KOLV::Node::factories();
  std::vector<std::string> names;
  for (KOLV::_NodeFactory *factory : KOLV::Node::factories()) names.push_back(factory->getName());
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "BinauralMultisourceLocalization");
  EXPECT_EQ(names[1], "BinauralMultisourceTracker");
  for (const char *name : {"BinauralMultisourceLocalization", "BinauralMultisourceTracker"}) {
    KOLV::_NodeFactory *factory = KOLV::Node::getFactoryNamed(name);
    ASSERT_NE(factory, nullptr);
    ASSERT_NE(factory->description(), nullptr);
    EXPECT_FALSE(factory->description()->parameters.empty());
  }
}
