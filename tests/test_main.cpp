// The main of every GoogleTest program of the suite: the verbs are
// registered once, as the installer registers them, before any test runs.
#include <gtest/gtest.h>

#include "commands/families.h"

int main(int argc, char** argv) {
  lumo::commands::registerCommandFamilies();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
