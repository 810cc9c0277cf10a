#include <gtest/gtest.h>

#include "platform/paths.h"

namespace lumo {
namespace {

TEST(Paths, ComponentsResolveByTheTextAloneAndReportAClimbOut) {
  struct Case {
    std::string path;
    std::vector<std::string> base;
    std::vector<std::string> expected;
    bool inside;
  };
  const Case cases[] = {
      {"/opt//Vexta/./bin/", {}, {"opt", "Vexta", "bin"}, true},
      {"a/../b", {"t"}, {"t", "b"}, true},
      {"../x", {"t"}, {"x"}, true},
      {"../../x", {"t"}, {"x"}, false},   // the rest still applies
      {"/../../opt", {}, {"opt"}, false},  // ".." at the root stays there
  };
  for (Case c : cases) {
    EXPECT_EQ(resolvePathComponents(c.path, c.base), c.inside) << c.path;
    EXPECT_EQ(c.base, c.expected) << c.path;
  }
}

}  // namespace
}  // namespace lumo
