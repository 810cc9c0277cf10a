#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/process.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::TempDir;
using test::writeFile;
using Arguments = std::vector<std::string>;

TEST(CommandLine, SplitsParametersAsTheWindowsRuntimeDoes) {
  const struct {
    const char* text;
    Arguments arguments;
  } cases[] = {
      {"", {}},
      {" \t  ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  a   b  ", {"a", "b"}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(a"b c"d)", {"ab cd"}},
      {R"("")", {""}},
      {R"(a "" b)", {"a", "", "b"}},
      {R"(a\b\\c)", {R"(a\b\\c)"}},
      {R"(a\"b)", {R"(a"b)"}},
      {R"(a\\"b c")", {R"(a\b c)"}},
      {R"(a\\\"b)", {R"(a\"b)"}},
      {R"("C:\Program Files\\")", {R"(C:\Program Files\)"}},
      {R"("a""b")", {R"(a"b)"}},
      {R"("a""")", {R"(a")"}},
      {R"("unterminated arg)", {"unterminated arg"}},
      {R"(x\)", {R"(x\)"}},
      {R"(中文 "路径 名")", {"中文", "路径 名"}},
      // Nothing a shell would act on means anything here.
      {"c;rm -rf $HOME `id` * >out", {"c;rm", "-rf", "$HOME", "`id`", "*", ">out"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.text), c.arguments) << c.text;
}

TEST(CommandLine, StartPlanRunsProgramsAndOpensDocuments) {
  TempDir dir;
  writeFile(dir / "bin/tool", "#!/bin/true\n");
  ::chmod((dir / "bin/tool").c_str(), 0755);
  writeFile(dir / "system/systool", "#!/bin/true\n");
  ::chmod((dir / "system/systool").c_str(), 0755);
  writeFile(dir / "readme.txt", "text");
  test::ScopedEnv path("PATH", dir / "bin");

  const struct {
    std::string program;
    std::optional<StartPlan> plan;
  } cases[] = {
      {dir / "bin/tool", StartPlan{dir / "bin/tool", {dir / "bin/tool", "-s", "a b"}}},
      {"systool", StartPlan{dir / "system/systool", {dir / "system/systool", "-s", "a b"}}},
      {"tool", StartPlan{dir / "bin/tool", {dir / "bin/tool", "-s", "a b"}}},
      {dir / "readme.txt", StartPlan{"xdg-open", {"xdg-open", dir / "readme.txt"}}},
      {dir / "system", StartPlan{"xdg-open", {"xdg-open", dir / "system"}}},
      {dir / "missing", std::nullopt},
      {"missing-everywhere", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    std::optional<StartPlan> plan = planStart(c.program, R"(-s "a b")", dir / "system");
    ASSERT_EQ(plan.has_value(), c.plan.has_value()) << c.program;
    if (!plan) continue;
    EXPECT_EQ(plan->program, c.plan->program) << c.program;
    EXPECT_EQ(plan->argv, c.plan->argv) << c.program;
  }
}

}  // namespace
}  // namespace lumo
