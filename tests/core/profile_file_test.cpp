#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "formats/profile_file.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(ProfileFile, ReadsSectionsAndKeysWithoutRegardToCase) {
  TempDir dir;
  writeFile(dir / "a.ini", "[Var]\r\n  Name =  value with blanks  \r\nquoted=\"x y\"\r\n[other]\r\nname=2\r\n");
  ProfileFile ini(dir / "a.ini", TextEncoding::Utf8);
  EXPECT_EQ(ini.read("var", "NAME"), "value with blanks");
  EXPECT_EQ(ini.read("VAR", "quoted"), "x y");
  EXPECT_EQ(ini.read("other", "name"), "2");
  EXPECT_EQ(ini.read("var", "missing"), std::nullopt);
  EXPECT_EQ(ini.read("nosection", "name"), std::nullopt);
  EXPECT_EQ(ProfileFile(dir / "none.ini", TextEncoding::Utf8).read("var", "name"), std::nullopt);
}

TEST(ProfileFile, WriteKeepsEveryOtherLineByteForByte) {
  TempDir dir;
  const std::string original = "; comment \xD3\xB0\r\n[var]\r\na=1\r\nb=2\r\n\r\n[install]\r\n#Out $INSTALL\r\n";
  writeFile(dir / "s.ini", original);
  ProfileFile ini(dir / "s.ini", TextEncoding::Gbk);
  ASSERT_TRUE(ini.write("var", "A", "影"));
  EXPECT_EQ(readFile(dir / "s.ini"),
            "; comment \xD3\xB0\r\n[var]\r\nA=\xD3\xB0\r\nb=2\r\n\r\n[install]\r\n#Out $INSTALL\r\n");
  ASSERT_TRUE(ini.write("var", "c", "3"));  // after the section's last entry, before the blank line
  EXPECT_EQ(readFile(dir / "s.ini"),
            "; comment \xD3\xB0\r\n[var]\r\nA=\xD3\xB0\r\nb=2\r\nc=3\r\n\r\n[install]\r\n#Out $INSTALL\r\n");
  ASSERT_TRUE(ini.write("new", "k", "v"));
  EXPECT_TRUE(readFile(dir / "s.ini").ends_with("#Out $INSTALL\r\n[new]\r\nk=v\r\n"));
  ASSERT_TRUE(ini.remove("var", "b"));
  EXPECT_EQ(ini.read("var", "b"), std::nullopt);
  EXPECT_EQ(ini.read("var", "c"), "3");
}

TEST(ProfileFile, AByteOrderMarkDoesNotHideTheFirstSection) {
  TempDir dir;
  writeFile(dir / "bom.ini", "\xEF\xBB\xBF[Setting]\r\nkey=1\r\n");
  ProfileFile ini(dir / "bom.ini", TextEncoding::Utf8);
  EXPECT_EQ(ini.read("Setting", "key"), "1");
  ASSERT_TRUE(ini.write("Setting", "other", "2"));
  EXPECT_EQ(readFile(dir / "bom.ini"), "\xEF\xBB\xBF[Setting]\r\nkey=1\r\nother=2\r\n");
}

TEST(ProfileFile, FirstWriteCreatesTheFile) {
  TempDir dir;
  ProfileFile ini(dir / "new.ini", TextEncoding::Utf8);
  ASSERT_TRUE(ini.write("s", "k", "v"));
  EXPECT_EQ(readFile(dir / "new.ini"), "[s]\r\nk=v\r\n");
}

TEST(ProfileFile, AFailedWriteLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string original = "[var]\r\na=1\r\n";
  writeFile(dir / "s.ini", original);
  ProfileFile ini(dir / "s.ini", TextEncoding::Utf8);
  // A file-size limit below the new content makes the write fail as a full
  // disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tiny = old;
  tiny.rlim_cur = 16;
  setrlimit(RLIMIT_FSIZE, &tiny);
  bool ok = ini.write("var", "a", std::string(100, 'x'));
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(ok);
  EXPECT_EQ(readFile(dir / "s.ini"), original);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);  // no temporary left
}

// "k<thread>_<i>", built by appending: GCC 12 at -O3 warns of an
// overlapping copy in "k" + text.
std::string threadKey(int thread, int i) {
  std::string key = "k";
  key += std::to_string(thread);
  key += '_';
  key += std::to_string(i);
  return key;
}

TEST(ProfileFile, ConcurrentWritersLoseNothing) {
  TempDir dir;
  ProfileFile ini(dir / "s.ini", TextEncoding::Utf8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      ProfileFile mine(dir / "s.ini", TextEncoding::Utf8);
      for (int i = 0; i < 25; ++i) mine.write("var", threadKey(t, i), "v");
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i) EXPECT_EQ(ini.read("var", threadKey(t, i)), "v");
}

}  // namespace
}  // namespace lumo
