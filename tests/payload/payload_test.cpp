#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/resource_bundle.h"
#include "formats/sevenzip_catalogue.h"
#include "formats/sevenzip_entry_reader.h"
#include "platform/lzma2_split_reader.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::pathExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Answers questions from a list and remembers what was asked.
class ScriptedHost final : public Host {
 public:
  void balloon(const std::string&, const std::string&) override {}
  void installFailed() override {}
  void installFinished() override {}
  void progress(const std::string& text, int) override { progressTexts.push_back(text); }
  Button ask(const Question& question) override {
    asked.push_back(question);
    if (beforeAnswer) beforeAnswer();
    if (answers.empty()) return Button::Cancel;
    Button answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<Button> answers;
  std::function<void()> beforeAnswer;
  std::vector<Question> asked;
  std::vector<std::string> progressTexts;
};

class HostScope {
 public:
  explicit HostScope(Host& host) { setHost(&host); }
  ~HostScope() { setHost(nullptr); }
};

void run7zz(const std::vector<std::string>& switches, const std::string& archive, const std::string& from,
            const std::vector<std::string>& items = {"."}) {
  std::vector<std::string> argv = {LUMO_7ZZ, "a", "-bso0", "-bsp0", "-y"};
  argv.insert(argv.end(), switches.begin(), switches.end());
  argv.push_back(archive);
  argv.insert(argv.end(), items.begin(), items.end());
  test::ProcessResult result = test::runProgram(argv, {}, from);
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
}

// The installer whose payload Out unpacks: given to it in its context, in
// place of the test program's own resources (which carry no payload).
ResourceBundle& installerBundle() {
  static ResourceBundle bundle;
  return bundle;
}

// Out for this process's run, with the installer above.
void runOut(const std::string& folder) {
  const CommandContext own = currentCommandContext();
  callCommand(CommandContext{own.environment, own.variables, own.host, own.installFolder, own.log, installerBundle()},
              "Out", folder);
}

// An installer whose payload (DATA 900) is `archive`; Out unpacks it from
// now on. The bundle is written here and not by lumo-pack, which refuses
// payloads that do not unpack soundly: Out must cope with them too.
void usePayload(const std::string& archive, const std::string& work) {
  std::string installer = work + "/installer";
  std::string program = readFile("/bin/true");
  ResourceEntry entry;
  entry.offset = program.size();
  if (archive.empty()) {
    entry.type = "INI";
    entry.id = 800;
    program += "[var]\n";
  } else {
    entry.type = "DATA";
    entry.id = 900;
    program += readFile(archive);
  }
  entry.size = program.size() - entry.offset;
  entry.crc = crc32Update(0, program.data() + entry.offset, entry.size);
  program += encodeBundleDirectory({entry}, entry.offset, crc32Update(0, program.data(), entry.offset), program.size());
  writeFile(installer, program);
  Result<ResourceBundle> bundle = ResourceBundle::open(installer);
  ASSERT_TRUE(bundle) << bundle.why();
  installerBundle() = std::move(*bundle);
}

std::string outError(const std::string& folder) {
  try {
    runOut(folder);
  } catch (const ScriptError& error) {
    return error.what();
  }
  return "(no error)";
}

// The tree every archive of the corpus holds: x86 code, text, empty files
// and folders, Chinese names, a read-only file, deep nesting.
class Corpus {
 public:
  Corpus() {
    std::string code = readFile(LUMO_7ZZ);
    writeFile(source / "bin/lumo.bin", code.substr(0, 1 << 20));
    writeFile(source / "bin/tail.bin", code.substr(code.size() / 2, 300000));
    ::chmod((source / "bin/lumo.bin").c_str(), 0755);
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + " of the readme\n";
    writeFile(source / "text/readme.txt", text);
    writeFile(source / "text/空文件.txt", "");
    writeFile(source / "数据/深/文件.txt", "中文内容\n");
    writeFile(source / "a/b/c/d/deep.txt", "deep");
    writeFile(source / "ro/locked.txt", "read only");
    ::chmod((source / "ro/locked.txt").c_str(), 0444);
    fs::create_directories(source / "empty/inner");
  }
  TempDir source;
};

Corpus& corpus() {
  static Corpus instance;
  return instance;
}

// Every file, folder and link below `root`, with its bytes and whether it
// may be written.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).string();
    struct stat st;
    ::lstat(entry.path().c_str(), &st);
    if (S_ISDIR(st.st_mode))
      tree[name] = "<dir>";
    else
      tree[name] = ((st.st_mode & 0222) ? "rw:" : "ro:") + std::string((st.st_mode & 0100) ? "x:" : "-:") +
                   readFile(entry.path());
  }
  return tree;
}

class PayloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runEnvironment().silent = false;
    setInstallFolder(target());
    previousFolder = fs::current_path();
  }
  void TearDown() override {
    EXPECT_EQ(fs::current_path(), previousFolder) << "the current folder must be restored";
    EXPECT_FALSE(pathExists(target() + "/data.7z")) << "the temporary archive must be gone";
    runEnvironment().silent = false;
  }
  std::string target() const { return work / "install"; }

  TempDir work;
  ScriptedHost host;
  HostScope hostScope{host};
  fs::path previousFolder;
};

TEST_F(PayloadTest, EveryMethodAndFilterUnpacksByteForByte) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
  } cases[] = {
      {"LZMA solid", {"-m0=LZMA", "-ms=on"}},
      {"LZMA2 non-solid", {"-m0=LZMA2", "-ms=off"}},
      {"LZMA2 solid small blocks", {"-m0=LZMA2", "-ms=100k"}},
      {"PPMd", {"-m0=PPMd", "-mf=off"}},
      {"BCJ+LZMA", {"-m0=BCJ", "-m1=LZMA"}},
      {"ARM+LZMA2", {"-m0=ARM", "-m1=LZMA2"}},
      {"BCJ2", {"-mf=BCJ2"}},
      {"Copy", {"-m0=Copy"}},
      {"Copy non-solid", {"-m0=Copy", "-ms=off"}},
  };
  auto expected = snapshot(corpus().source.path());
  ASSERT_GT(expected.size(), 10u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    run7zz(c.switches, scratch / "payload.7z", corpus().source.path());
    usePayload(scratch / "payload.7z", scratch.path());
    std::string folder = scratch / "target";
    EXPECT_EQ(outError(folder), "(no error)");
    EXPECT_EQ(snapshot(folder), expected);
    EXPECT_FALSE(pathExists(folder + "/data.7z"));
  }
  EXPECT_TRUE(host.asked.empty());
  EXPECT_TRUE(host.progressTexts.empty()) << "Out reports no progress of its own";
}

TEST_F(PayloadTest, FolderWithOrWithoutTrailingSeparatorIsTheSamePlace) {
  TempDir source;
  writeFile(source / "dir/file.txt", "x");
  run7zz({}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());
  runOut(target());
  std::string backslashed = target();
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  writeFile(target() + "/dir/file.txt", "changed");
  runOut(backslashed + "\\");
  EXPECT_EQ(snapshot(target()), (std::map<std::string, std::string>{{"dir", "<dir>"}, {"dir/file.txt", "rw:-:x"}}));

  // A relative folder is taken from the current folder at the time of Out.
  fs::current_path(work.path());
  writeFile(target() + "/dir/file.txt", "changed");
  EXPECT_EQ(outError("install"), "(no error)");
  fs::current_path(previousFolder);
  EXPECT_EQ(snapshot(target()), (std::map<std::string, std::string>{{"dir", "<dir>"}, {"dir/file.txt", "rw:-:x"}}));
}

TEST_F(PayloadTest, ReadOnlyAndRunningTargetsAreMovedAsideAndWrittenAgain) {
  TempDir source;
  writeFile(source / "locked.txt", "new locked");
  writeFile(source / "app", "new program");
  writeFile(source / "plain.txt", "new plain");
  run7zz({}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());

  writeFile(target() + "/locked.txt", "old locked");
  ::chmod((target() + "/locked.txt").c_str(), 0444);
  writeFile(target() + "/locked.txt.old", "older backup");
  fs::copy_file("/bin/sleep", target() + "/app");
  writeFile(target() + "/plain.txt", "old plain");

  // A program running from the target folder cannot be rewritten in place.
  std::string app = target() + "/app";
  char* argv[] = {app.data(), const_cast<char*>("30"), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, app.c_str(), nullptr, nullptr, argv, environ), 0);

  runOut(target());
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);

  EXPECT_EQ(readFile(target() + "/locked.txt"), "new locked");
  EXPECT_EQ(readFile(target() + "/locked.txt.old"), "old locked");
  EXPECT_EQ(readFile(target() + "/app"), "new program");
  EXPECT_EQ(readFile(target() + "/app.old"), readFile("/bin/sleep"));
  EXPECT_EQ(readFile(target() + "/plain.txt"), "new plain");
  EXPECT_FALSE(pathExists(target() + "/plain.txt.old"));
  EXPECT_TRUE(host.asked.empty());
}

TEST_F(PayloadTest, StoredReadOnlyAttributeMakesTheNextOutTakeTheBackupPath) {
  TempDir source;
  writeFile(source / "locked.txt", "content");
  ::chmod((source / "locked.txt").c_str(), 0444);
  run7zz({}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());
  runOut(target());
  EXPECT_EQ(snapshot(target()), (std::map<std::string, std::string>{{"locked.txt", "ro:-:content"}}));
  runOut(target());
  EXPECT_EQ(snapshot(target()), (std::map<std::string, std::string>{{"locked.txt", "ro:-:content"},
                                                                     {"locked.txt.old", "ro:-:content"}}));
}

// A read-only target whose backup name is taken by a non-empty folder can be
// neither written nor moved aside: the user decides.
class BusyTargetTest : public PayloadTest {
 protected:
  void SetUp() override {
    PayloadTest::SetUp();
    TempDir source;
    writeFile(source / "a.txt", "new a");
    writeFile(source / "stuck.txt", "new stuck");
    writeFile(source / "z.txt", "new z");
    run7zz({}, work / "p.7z", source.path());
    usePayload(work / "p.7z", work.path());
    writeFile(target() + "/stuck.txt", "old stuck");
    ::chmod((target() + "/stuck.txt").c_str(), 0444);
    writeFile(target() + "/stuck.txt.old/blocker", "x");
  }
};

TEST_F(BusyTargetTest, ContinueSkipsTheEntryAndTheRestIsUnpacked) {
  host.answers = {Button::Continue};
  runOut(target());
  ASSERT_EQ(host.asked.size(), 1u);
  const Question& q = host.asked[0];
  EXPECT_EQ(q.id, "out.write-failed");
  EXPECT_EQ(q.caption, "无法写入目标文件");
  EXPECT_EQ(q.text, "目标文件 " + target() + "/stuck.txt 无法写入！  \n\n"
                    "按'继续'忽略该文件,按'重试'再次尝试写入,按'取消'退出安装程序！\n");
  EXPECT_EQ(q.buttons, (std::vector<Button>{Button::Cancel, Button::TryAgain, Button::Continue}));
  EXPECT_EQ(q.defaultButton, Button::Continue);
  EXPECT_EQ(q.silentAnswer, Button::Continue);
  EXPECT_EQ(q.icon, Icon::Error);
  EXPECT_EQ(readFile(target() + "/stuck.txt"), "old stuck");
  EXPECT_EQ(readFile(target() + "/a.txt"), "new a");
  EXPECT_EQ(readFile(target() + "/z.txt"), "new z");
}

TEST_F(BusyTargetTest, TryAgainAfterTheCauseIsGoneWritesTheEntry) {
  host.answers = {Button::TryAgain};
  host.beforeAnswer = [this] { fs::remove_all(target() + "/stuck.txt.old"); };
  runOut(target());
  EXPECT_EQ(host.asked.size(), 1u);
  EXPECT_EQ(readFile(target() + "/stuck.txt"), "new stuck");
  EXPECT_EQ(readFile(target() + "/stuck.txt.old"), "old stuck");
}

TEST_F(BusyTargetTest, CancelRaisesTheErrorWithTheFolderAndTheName) {
  host.answers = {Button::Cancel};
  EXPECT_EQ(outError(target()), "Can not open output file : " + target() + "/stuck.txt -Decode7z");
}

TEST_F(PayloadTest, ASilentRunRaisesForEveryEntryItCannotWriteNamingItAndWhy) {
  runEnvironment().silent = true;
  TempDir source;
  const std::string component(200, 'n');
  std::string longName = "long";
  for (int i = 0; i < 11; ++i) longName += "/" + component;
  writeFile(source / "dir/inner.txt", "inner");
  writeFile(source / "plain.txt", "plain");
  writeFile(source / (longName + "/end.txt"), "end");
  run7zz({}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());

  std::string deep = work / "deep";
  for (int i = 0; i < 11; ++i) deep += "/" + component;
  struct Case {
    std::string name;
    std::string folder;
    std::function<bool(const std::string& folder)> prepare;  // false: not possible here
    std::string entry;
    std::string reason;
  };
  const Case cases[] = {
      {"a file where a folder goes", work / "t1",
       [](const std::string& f) { return writeFile(f + "/dir", "file"), true; }, "dir",
       "not a folder stands in its place"},
      {"a read-only file that cannot be moved aside", work / "t2",
       [](const std::string& f) {
         writeFile(f + "/plain.txt", "old");
         writeFile(f + "/plain.txt.old/blocker", "x");
         return ::chmod((f + "/plain.txt").c_str(), 0444) == 0;
       },
       "plain.txt", "Permission denied; it can not be moved aside to plain.txt.old"},
      {"an immutable file", work / "t3",
       [](const std::string& f) {
         writeFile(f + "/plain.txt", "old");
         return pathExists("/usr/bin/chattr") &&
                test::runProgram({"/usr/bin/chattr", "+i", f + "/plain.txt"}).exitCode == 0;
       },
       "plain.txt", "Operation not permitted"},
      {"a name longer than the system takes", deep, [](const std::string&) { return true; }, "long/",
       "File name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(c.folder);
    if (!c.prepare(c.folder)) {
      std::printf("(%s: not possible on this file system)\n", c.name.c_str());
      continue;
    }
    std::string error = outError(c.folder);
    EXPECT_EQ(error.rfind("[Out] Can not write " + c.folder + "/" + c.entry, 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    if (pathExists("/usr/bin/chattr")) test::runProgram({"/usr/bin/chattr", "-i", c.folder + "/plain.txt"});
  }
  EXPECT_TRUE(host.asked.empty());
}

TEST_F(PayloadTest, DamagedArchivesRaiseTheDecoderTexts) {
  TempDir source;
  writeFile(source / "first.txt", std::string(5000, 'f'));
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i * 31337 % 65521) + "\n";
  writeFile(source / "second.txt", text);

  struct Case {
    const char* name;
    std::vector<std::string> switches;
    std::function<void(std::string&)> damage;
    std::vector<std::string> errors;  // any of these
  } cases[] = {
      {"flipped byte in stored data", {"-m0=Copy"}, [](std::string& a) { a[32 + 6000] ^= 0x55; },
       {"CRC error -Decode7z"}},
      {"flipped byte in LZMA2 data", {"-m0=LZMA2"}, [](std::string& a) { a[32 + 400] ^= 0x55; },
       {"CRC error -Decode7z", "\nERROR -Decode7z#1\n"}},
      {"cut in half", {"-m0=LZMA2"}, [](std::string& a) { a.resize(a.size() / 2); }, {"\nERROR -Decode7z#6\n"}},
      {"cut inside the signature header", {}, [](std::string& a) { a.resize(20); }, {"\nERROR -Decode7z#6\n"}},
      {"not an archive", {}, [](std::string& a) { a = std::string(4096, 'x'); }, {"\nERROR -Decode7z#17\n"}},
      {"method the decoder lacks", {"-m0=ARM64", "-m1=LZMA2"}, [](std::string&) {},
       {"Decoder doesn't support this archive -Decode7z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    run7zz(c.switches, scratch / "p.7z", source.path(), {"first.txt", "second.txt"});
    std::string bytes = readFile(scratch / "p.7z");
    c.damage(bytes);
    writeFile(scratch / "p.7z", bytes);
    usePayload(scratch / "p.7z", scratch.path());
    std::string folder = scratch / "target";
    std::string error = outError(folder);
    EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), error), c.errors.end()) << "'" << error << "'";
    EXPECT_FALSE(pathExists(folder + "/data.7z"));
    // No half-written or wrongly decoded file stays behind.
    if (pathExists(folder + "/second.txt")) {
      EXPECT_EQ(readFile(folder + "/second.txt"), text);
    }
    if (pathExists(folder + "/first.txt")) {
      EXPECT_EQ(readFile(folder + "/first.txt"), std::string(5000, 'f'));
    }
  }
}

// The decoder in Debian 12 cannot decode PPMd behind the x86 filter for
// large binaries; the failure must come out as a clean error.
TEST_F(PayloadTest, PpmdBehindTheX86FilterFailsCleanly) {
  TempDir scratch;
  std::string original = readFile(LUMO_7ZZ);
  writeFile(scratch / "in/bin/lumo.bin", original);
  run7zz({"-m0=BCJ", "-m1=PPMd"}, scratch / "p.7z", scratch / "in");
  usePayload(scratch / "p.7z", scratch.path());
  std::string error = outError(target());
  if (error == "(no error)") {
    EXPECT_EQ(readFile(target() + "/bin/lumo.bin"), original);
  } else {
    EXPECT_NE(error.find("-Decode7z"), std::string::npos) << error;
    EXPECT_FALSE(pathExists(target() + "/bin/lumo.bin") && readFile(target() + "/bin/lumo.bin") != original);
  }
}

TEST_F(PayloadTest, EntriesLeavingTheTargetFolderAreRefused) {
  TempDir outside;
  writeFile(work / "stage/in/good.txt", "good");
  writeFile(work / "stage/evil.txt", "evil");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string refused;  // the name in the error
  } cases[] = {
      {"climbs out with ..",
       [&](const std::string& archive) {
         run7zz({"-spf"}, archive, work / "stage/in", {"good.txt", "../evil.txt"});
       },
       "../evil.txt"},
      {"absolute name",
       [&](const std::string& archive) {
         run7zz({"-spf"}, archive, work / "stage/in", {work / "stage/evil.txt"});
       },
       work / "stage/evil.txt"},
      {"link pointing outside",
       [&](const std::string& archive) {
         fs::create_directories(work / "links");
         fs::create_directory_symlink(outside.path(), work / "links/out");
         run7zz({"-snl"}, archive, work / "links", {"out"});
       },
       "out"},
      {"link climbing out",
       [&](const std::string& archive) {
         fs::create_directories(work / "links2/sub");
         fs::create_directory_symlink("../../..", work / "links2/sub/up");
         run7zz({"-snl"}, archive, work / "links2", {"sub"});
       },
       "sub/up"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    c.make(scratch / "p.7z");
    usePayload(scratch / "p.7z", scratch.path());
    std::string folder = scratch / "deep/target";
    EXPECT_EQ(outError(folder), "[Out] Entry outside the target folder: " + c.refused);
    auto packed = test::runProgram({test::buildPath("lumo-pack"), "/bin/true", "-o", scratch / "packed", "--set",
                                    "DATA:900=" + (scratch / "p.7z")});
    EXPECT_EQ(packed.exitCode, 1) << "the packer refuses it too";
    EXPECT_NE(packed.err.find("would never be unpacked"), std::string::npos) << packed.err;
    EXPECT_FALSE(pathExists(scratch / "packed"));
    EXPECT_FALSE(pathExists(scratch / "deep/evil.txt"));
    EXPECT_FALSE(pathExists(scratch / "evil.txt"));
    EXPECT_EQ(readFile(work / "stage/evil.txt"), "evil");
    EXPECT_TRUE(fs::is_empty(outside.path()));
    EXPECT_FALSE(pathExists(folder + "/data.7z"));
  }
}

TEST_F(PayloadTest, ALinkAlreadyInTheTargetFolderIsNotWrittenThrough) {
  TempDir outside;
  TempDir source;
  writeFile(source / "lib/x.so", "x");
  run7zz({}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());
  fs::create_directories(target());
  fs::create_directory_symlink(outside.path(), target() + "/lib");
  EXPECT_EQ(outError(target()), "[Out] Entry outside the target folder: lib/");
  EXPECT_TRUE(fs::is_empty(outside.path()));
}

TEST_F(PayloadTest, LinksInsideTheFolderAreWritten) {
  TempDir source;
  writeFile(source / "real/file.txt", "r");
  fs::create_directory_symlink("real", source / "alias");
  run7zz({"-snl"}, work / "p.7z", source.path());
  usePayload(work / "p.7z", work.path());
  runOut(target());
  EXPECT_EQ(fs::read_symlink(target() + "/alias"), "real");
  EXPECT_EQ(readFile(target() + "/alias/file.txt"), "r");
}

TEST_F(PayloadTest, MissingPayloadRaisesAfterTheFolderIsMade) {
  usePayload("", work.path());
  EXPECT_EQ(outError(target() + "/a/b"), "[Out] 'DATA' resource not found in current executable");
  EXPECT_TRUE(fs::is_directory(target() + "/a/b"));
  EXPECT_EQ(outError(""), "[Out] Invalid target folder: ");
}

TEST_F(PayloadTest, WriteFailuresRaiseAndLeaveNoPartialFiles) {
  TempDir source;
  writeFile(source / "small.txt", "small");
  writeFile(source / "zeros.bin", std::string(4 << 20, '\0'));
  std::string noise;
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
  writeFile(source / "noise.bin", noise);

  // The limit on file sizes stands in for a full disk.
  struct rlimit previous;
  ::getrlimit(RLIMIT_FSIZE, &previous);
  ::signal(SIGXFSZ, SIG_IGN);
  auto withLimit = [&](rlim_t bytes, const std::function<void()>& body) {
    struct rlimit limit = previous;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    body();
    ::setrlimit(RLIMIT_FSIZE, &previous);
  };

  // The archive itself does not fit: nothing of it stays.
  run7zz({"-m0=Copy"}, work / "stored.7z", source.path(), {"noise.bin"});
  usePayload(work / "stored.7z", work.path());
  withLimit(100000, [&] {
    EXPECT_EQ(outError(target()), "[Out] Can not write the temporary archive " + target() + "/data.7z");
  });
  EXPECT_FALSE(pathExists(target() + "/noise.bin"));

  // The archive fits but an entry does not.
  run7zz({"-m0=LZMA2"}, work / "packed.7z", source.path(), {"small.txt", "zeros.bin"});
  usePayload(work / "packed.7z", work.path());
  withLimit(1 << 20, [&] { EXPECT_EQ(outError(target()), "Can not write output file -Decode7z"); });
  EXPECT_FALSE(pathExists(target() + "/zeros.bin"));
  ::signal(SIGXFSZ, SIG_DFL);
}

TEST_F(PayloadTest, AnEntryCalledDataDot7zIsWrittenLikeAnyOther) {
  TempDir source;
  writeFile(source / "data.7z", "an entry, not the payload");
  writeFile(source / "after.txt", "after");
  run7zz({"-m0=Copy"}, work / "p.7z", source.path(), {"data.7z", "after.txt"});
  usePayload(work / "p.7z", work.path());
  runOut(target());
  EXPECT_EQ(readFile(target() + "/data.7z"), "an entry, not the payload");
  EXPECT_EQ(readFile(target() + "/after.txt"), "after");
  fs::remove(target() + "/data.7z");
}

// Names below `root` that an unfinished entry would leave: the temporary
// files entries are decoded into before they are renamed over their target.
std::vector<std::string> leftovers(const std::string& root) {
  std::vector<std::string> found;
  if (!pathExists(root)) return found;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename().string().rfind(".lumo-", 0) == 0) found.push_back(entry.path());
  return found;
}

std::optional<SevenZipCatalogue> catalogueOf(const std::string& archive) {
  int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  Result<SevenZipCatalogue> catalogue = readSevenZipCatalogue(fd, 0, kToEnd);
  ::close(fd);
  EXPECT_TRUE(catalogue) << catalogue.why();
  if (!catalogue) return std::nullopt;
  return *catalogue;
}

// Archives that the decoder unpacks wrongly or not at all although 7zz calls
// them sound: the fixed one trips the x86 filter behind LZMA (its last file
// ends in an E8 byte), PPMd behind the x86 filter fails on large programs.
TEST_F(PayloadTest, LumoPackRefusesPayloadsTheDecoderGetsWrong) {
  writeFile(work / "ppmd/bin/lumo.bin", readFile(LUMO_7ZZ));
  run7zz({"-m0=BCJ", "-m1=PPMd"}, work / "ppmd.7z", work / "ppmd");
  struct Case {
    std::string archive;
    std::string entry;
    std::string coders;
  } cases[] = {
      {std::string(LUMO_PAYLOAD_DATA) + "/lzma_bcj_refused.7z", "\"r.bin\"", "coders BCJ + LZMA:d="},
      {work / "ppmd.7z", "\"bin/lumo.bin\"", "coders BCJ + PPMD:mem="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    ASSERT_EQ(test::runProgram({LUMO_7ZZ, "t", c.archive}).exitCode, 0) << "7zz calls it sound";
    std::string out = work / "refused";
    auto packed = test::runProgram({test::buildPath("lumo-pack"), "/bin/true", "-o", out, "--set", "DATA:900=" + c.archive});
    EXPECT_EQ(packed.exitCode, 1);
    for (const std::string& part : {c.entry, c.coders, std::string("rebuild the payload with LZMA2")})
      EXPECT_NE(packed.err.find(part), std::string::npos) << part << " in " << packed.err;
    for (const auto& file : fs::directory_iterator(work.path()))
      EXPECT_NE(file.path().filename().string().rfind("refused", 0), 0u) << "left behind: " << file.path();

    // The same payload in an installer made by other means fails --verify.
    usePayload(c.archive, work.path());
    auto verified = test::runProgram({test::buildPath("lumo-pack"), "--verify", work / "installer"});
    EXPECT_EQ(verified.exitCode, 1);
    EXPECT_NE(verified.err.find(c.entry), std::string::npos) << verified.err;
    fs::remove(work / "installer");
  }

  // A sound payload passes both.
  run7zz({"-m0=BCJ", "-m1=LZMA2", "-ms=100k"}, work / "sound.7z", corpus().source.path());
  auto packed = test::runProgram({test::buildPath("lumo-pack"), "/bin/true", "-o", work / "sound", "--set",
                                  "DATA:900=" + (work / "sound.7z")});
  EXPECT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_EQ(test::runProgram({test::buildPath("lumo-pack"), "--verify", work / "sound"}).exitCode, 0);
}

TEST_F(PayloadTest, ManyBlocksUnpackSideBySideExactlyAsOne) {
  // A block never splits a file: the corpus and a few more files, one file
  // per block.
  fs::copy(corpus().source.path(), work / "src", fs::copy_options::recursive);
  for (int i = 0; i < 4; ++i) writeFile(work / ("src/more/" + std::to_string(i) + ".txt"), std::string(5000 + i, 'm'));
  run7zz({"-m0=BCJ", "-m1=LZMA2", "-ms=1f"}, work / "p.7z", work / "src");
  std::optional<SevenZipCatalogue> catalogue = catalogueOf(work / "p.7z");
  ASSERT_TRUE(catalogue);
  EXPECT_GE(catalogue->blocks.size(), 8u);
  auto expected = snapshot(work / "src");
  for (const CatalogueEntry& entry : catalogue->entries) {
    SCOPED_TRACE(entry.name);
    ASSERT_TRUE(expected.count(entry.name));
    EXPECT_EQ(entry.directory, expected[entry.name] == "<dir>");
    if (!entry.directory) {
      EXPECT_EQ(entry.size, expected[entry.name].size() - 5);  // after "rw:x:"
    }
  }
  usePayload(work / "p.7z", work.path());
  EXPECT_EQ(outError(target()), "(no error)");
  EXPECT_EQ(snapshot(target()), expected);
}

TEST_F(PayloadTest, AFailureInOneBlockStopsEveryReaderAndLeavesNoPartialFile) {
  TempDir source;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 24; ++i) {
    std::string bytes;
    for (int j = 0; j < 60000; ++j) bytes += static_cast<char>('a' + (i * 7 + j * 13) % 26);
    bytes.replace(100, 12, "marker-" + std::to_string(1000 + i) + "!");
    files["f" + std::to_string(100 + i) + ".txt"] = bytes;
    writeFile(source / ("f" + std::to_string(100 + i) + ".txt"), bytes);
  }
  run7zz({"-m0=Copy", "-ms=100k"}, work / "p.7z", source.path());
  ASSERT_GE(catalogueOf(work / "p.7z")->blocks.size(), 8u);
  std::string archive = readFile(work / "p.7z");
  std::size_t at = archive.find("marker-1012!");
  ASSERT_NE(at, std::string::npos);
  archive[at] ^= 0x20;
  writeFile(work / "p.7z", archive);
  usePayload(work / "p.7z", work.path());

  EXPECT_EQ(outError(target()), "CRC error -Decode7z");
  EXPECT_FALSE(pathExists(target() + "/f112.txt"));
  for (const auto& [name, bytes] : files)
    if (pathExists(target() + "/" + name)) {
      EXPECT_EQ(readFile(target() + "/" + name), bytes) << name;
    }
  EXPECT_EQ(leftovers(target()), std::vector<std::string>{});
}

// How many blocks of the archive SevenZipEntryReader decodes piece by piece.
std::size_t splitBlocksOf(const std::string& archive) {
  std::optional<SevenZipCatalogue> catalogue = catalogueOf(archive);
  int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  SevenZipEntryReader reader;
  EXPECT_TRUE(reader.open(fd, 0, kToEnd, &*catalogue, 4));
  std::size_t split = reader.splitBlocks();
  ::close(fd);
  return split;
}

// A multithreaded packer restarts the dictionary every "c" bytes (set small
// here so that the corpus holds many pieces and its files span them); one
// thread without "c" does not.
TEST_F(PayloadTest, StreamsWithAndWithoutDictionaryResetsUnpackByteForByte) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
    std::size_t splitBlocks;
  } cases[] = {
      {"one thread, no reset", {"-m0=LZMA2:d=64k", "-mmt1"}, 0},
      {"resets, LZMA2 alone", {"-m0=LZMA2:d=64k:c=256k", "-mmt=2", "-mf=off"}, 1},
      {"resets, one thread", {"-m0=LZMA2:d=1m:c=1m", "-mmt1", "-mf=off"}, 1},
      {"resets behind BCJ", {"-m0=BCJ", "-m1=LZMA2:d=128k:c=512k", "-mmt=2"}, 1},
      {"resets behind ARM", {"-m0=ARM", "-m1=LZMA2:d=64k:c=256k"}, 1},
      {"resets behind Delta", {"-m0=Delta:4", "-m1=LZMA2:d=64k:c=256k"}, 1},
      // A block per file: three files are large enough to reset, the small
      // ones before and between them are not.
      {"blocks with and without resets", {"-m0=BCJ", "-m1=LZMA2:d=64k:c=128k", "-ms=1f"}, 3},
  };
  auto expected = snapshot(corpus().source.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    run7zz(c.switches, scratch / "payload.7z", corpus().source.path());
    EXPECT_EQ(splitBlocksOf(scratch / "payload.7z"), c.splitBlocks);
    usePayload(scratch / "payload.7z", scratch.path());
    std::string folder = scratch / "target";
    EXPECT_EQ(outError(folder), "(no error)");
    EXPECT_EQ(snapshot(folder), expected);
    EXPECT_EQ(leftovers(folder), std::vector<std::string>{});
  }
}

// Damage in two pieces of many: the entries before the first are written
// whole, the rest never partly, and the first damaged piece is the one named.
TEST_F(PayloadTest, ADamagedPieceStopsOutAtItsFirstEntryAndIsNamed) {
  TempDir source;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 12; ++i) {
    std::string bytes;
    for (int j = 0; bytes.size() < 200000; ++j) bytes += std::to_string((j * 2654435761u + i) % 1000003) + " ";
    files["f" + std::to_string(100 + i) + ".txt"] = bytes;
    writeFile(source / ("f" + std::to_string(100 + i) + ".txt"), bytes);
  }
  run7zz({"-m0=LZMA2:d=64k:c=256k", "-mmt=2"}, work / "p.7z", source.path());
  std::optional<SevenZipCatalogue> catalogue = catalogueOf(work / "p.7z");
  ASSERT_TRUE(catalogue);
  const CatalogueBlock& block = catalogue->blocks.at(0);
  int fd = ::open((work / "p.7z").c_str(), O_RDONLY | O_CLOEXEC);
  auto pieces = findLzma2Pieces(fd, block.packOffset, block.packSize, block.unpackSize, nullptr);
  ::close(fd);
  ASSERT_TRUE(pieces);
  ASSERT_GE(pieces->size(), 8u);
  std::string archive = readFile(work / "p.7z");
  for (std::size_t damaged : {4u, 6u}) {
    const Lzma2Piece& piece = (*pieces)[damaged];
    for (std::uint64_t at = 100; at < 400; at += 7) archive[block.packOffset + piece.packedOffset + at] ^= 0x5A;
  }
  writeFile(work / "p.7z", archive);

  // The reader names the first of the two.
  fd = ::open((work / "p.7z").c_str(), O_RDONLY | O_CLOEXEC);
  SevenZipEntryReader reader;
  ASSERT_TRUE(reader.open(fd, 0, kToEnd, &*catalogue, 4));
  ASSERT_EQ(reader.splitBlocks(), 1u);
  ArchiveEntry entry;
  while (reader.next(entry))
    if (reader.extract([](const void*, std::size_t, std::uint64_t) { return true; }) != ArchiveExtractor::DataOutcome::Done)
      break;
  ::close(fd);
  EXPECT_EQ(reader.result(), DecodeResult::DataError);
  EXPECT_NE(reader.detail().find("piece 5 of " + std::to_string(pieces->size())), std::string::npos) << reader.detail();

  usePayload(work / "p.7z", work.path());
  std::string error = outError(target());
  EXPECT_TRUE(error == "\nERROR -Decode7z#1\n" || error == "CRC error -Decode7z") << error;
  std::uint64_t at = 0;
  for (const CatalogueEntry& stored : catalogue->entries) {
    SCOPED_TRACE(stored.name);
    bool beforeDamage = at + stored.size <= (*pieces)[4].unpackedOffset;
    EXPECT_EQ(pathExists(target() + "/" + stored.name), beforeDamage);
    if (beforeDamage) {
      EXPECT_EQ(readFile(target() + "/" + stored.name), files[stored.name]);
    }
    at += stored.size;
  }
  EXPECT_EQ(leftovers(target()), std::vector<std::string>{});

  // lumo-pack's proof reads the payload the same way and refuses it.
  auto packed = test::runProgram({test::buildPath("lumo-pack"), "/bin/true", "-o", work / "refused", "--set",
                                  "DATA:900=" + (work / "p.7z")});
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_NE(packed.err.find("piece 5 of"), std::string::npos) << packed.err;
}

TEST_F(PayloadTest, AnEntryThatFailsItsCrcLeavesTheOlderFileAsItWas) {
  TempDir source;
  writeFile(source / "a/b/c.txt", "the new release of c, long enough to find");
  run7zz({"-m0=Copy"}, work / "p.7z", source.path());
  std::string archive = readFile(work / "p.7z");
  archive[archive.find("new release")] ^= 0x01;
  writeFile(work / "p.7z", archive);
  usePayload(work / "p.7z", work.path());
  writeFile(target() + "/a/b/c.txt", "the older, sound c");

  EXPECT_EQ(outError(target()), "CRC error -Decode7z");
  EXPECT_EQ(readFile(target() + "/a/b/c.txt"), "the older, sound c");
  EXPECT_EQ(leftovers(target()), std::vector<std::string>{});
}

TEST_F(PayloadTest, ATemporaryArchiveThatCannotBeCreatedIsAnError) {
  writeFile(work / "src/x.txt", "x");
  run7zz({}, work / "p.7z", work / "src");
  usePayload(work / "p.7z", work.path());
  fs::create_directories(target() + "/data.7z");
  writeFile(work / "plain", "a regular file");
  for (const std::string& folder : {target(), std::string(work / "plain/below")}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(outError(folder), "[Out] Can not create the temporary archive " + folder + "/data.7z");
    EXPECT_FALSE(pathExists(folder + "/x.txt"));
  }
  fs::remove(target() + "/data.7z");
}

}  // namespace
}  // namespace lumo
