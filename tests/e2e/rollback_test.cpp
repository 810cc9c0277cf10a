// Rollback: for every command line of [install] and [installok], a run in
// which a failing line stands just before it must end with the failure
// status and leave nothing of the product behind.
#include <gtest/gtest.h>

#include "e2e/sandbox.h"

namespace lumo::test {
namespace {

struct Injection {
  std::string section;
  std::size_t position;  // index among the section's command lines
};

void PrintTo(const Injection& injection, std::ostream* out) { *out << injection.section << " #" << injection.position; }

std::vector<Injection> allInjections() {
  std::vector<Injection> result;
  std::vector<std::string> lines = defaultScriptLines();
  for (const char* section : {"[install]", "[installok]"}) {
    std::size_t count = commandLines(lines, section).size();
    for (std::size_t i = 0; i < count; ++i) result.push_back({section, i});
  }
  return result;
}

class Rollback : public ::testing::TestWithParam<Injection> {};

TEST_P(Rollback, AFailureBeforeAnyLineLeavesNothingBehind) {
  const Injection& injection = GetParam();
  std::vector<std::string> lines = defaultScriptLines();
  auto section = commandLines(lines, injection.section);
  ASSERT_LT(injection.position, section.size());
  const std::string& before_line = section[injection.position].text;
  lines.insert(lines.begin() + static_cast<long>(section[injection.position].lineIndex),
               "#Move $INSTALL\\no-such-file|$INSTALL\\no-such-target");

  Sandbox box;
  writeFile(box.dist() + "/install.ini", toScriptBytes(lines));
  auto before = box.snapshot();
  ProcessResult run = box.run(box.installer(), {"/s"});
  EXPECT_EQ(run.exitCode, 1) << "failure before: " << before_line << "\n" << run.err;
  auto left = leftovers(before, box.snapshot());
  EXPECT_TRUE(left.empty()) << "failure before: " << before_line << "\nleft: " << ::testing::PrintToString(left);
}

INSTANTIATE_TEST_SUITE_P(EveryLine, Rollback, ::testing::ValuesIn(allInjections()),
                         [](const ::testing::TestParamInfo<Injection>& info) {
                           std::string name = info.param.section == "[install]" ? "install" : "installok";
                           return name + "_" + std::to_string(info.param.position);
                         });

}  // namespace
}  // namespace lumo::test
