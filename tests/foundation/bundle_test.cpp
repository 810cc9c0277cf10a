#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/resource_bundle.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::buildPath;
using test::pathExists;
using test::readFile;
using test::runProgram;
using test::TempDir;
using test::writeFile;

std::string pack() { return buildPath("lumo-pack"); }
std::string bareProgram() { return buildPath("lumo-installer-program"); }

std::string allByteValues(std::size_t repeat) {
  std::string bytes;
  for (std::size_t r = 0; r < repeat; ++r)
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

std::string copyOut(const ResourceBundle& bundle, std::string_view type, std::uint32_t id, const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(bundle.copyTo(type, id, fd));
  ::close(fd);
  return readFile(path);
}

void truncateTo(const std::string& path, std::uint64_t size) { std::filesystem::resize_file(path, size); }

void flipByte(const std::string& path, std::uint64_t offset) {
  std::string bytes = readFile(path);
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
  writeFile(path, bytes);
}

struct Packed {
  TempDir dir;
  std::string installer = dir / "installer";
  std::string ini = "[var]\r\nproduct_name=Vexta\xd3\xb0\xd2\xf4\r\n";
  std::string data;  // a stored archive of 1 MiB: more than one copy block
  std::string png = "\x89PNG\r\n\x1a\n" + allByteValues(3);

  Packed() {
    // The payload must be an archive that unpacks: lumo-pack proves it.
    writeFile(dir / "raw", allByteValues(4096));
    auto archived = runProgram({LUMO_7ZZ, "a", "-bso0", "-bsp0", "-m0=Copy", dir / "data.7z", dir / "raw"});
    EXPECT_EQ(archived.exitCode, 0) << archived.err;
    data = readFile(dir / "data.7z");
    writeFile(dir / "ini", ini);
    writeFile(dir / "data", data);
    writeFile(dir / "png", png);
    writeFile(dir / "icon", "");
    auto result = runProgram({pack(), bareProgram(), "-o", installer, "--set", "INI:800=" + (dir / "ini"), "--set",
                              "DATA:900=" + (dir / "data"), "--set", "PNG:1020=" + (dir / "png"), "--set",
                              "ICON:128=" + (dir / "icon"), "--incomplete"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
};

TEST(ResourceBundle, ChecksumIsTheCommonCrc32InAnyPieces) {
  EXPECT_EQ(crc32Update(0, "123456789", 9), 0xCBF43926u);
  std::string bytes = allByteValues(3) + "tail";
  std::uint32_t whole = crc32Update(0, bytes.data(), bytes.size());
  for (std::size_t cut : {1u, 7u, 8u, 9u, 300u}) {
    std::uint32_t pieces = crc32Update(crc32Update(0, bytes.data(), cut), bytes.data() + cut, bytes.size() - cut);
    EXPECT_EQ(pieces, whole) << cut;
  }
}

TEST(ResourceBundle, PackedResourcesComeBackByteForByte) {
  Packed packed;
  struct stat st {};
  ASSERT_EQ(::stat(packed.installer.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);

  Result<ResourceBundle> opened = ResourceBundle::open(packed.installer);
  ASSERT_TRUE(opened) << opened.why();
  const ResourceBundle& bundle = *opened;
  ASSERT_EQ(bundle.entries().size(), 4u);
  EXPECT_EQ(bundle.load("INI", 800), packed.ini);
  EXPECT_EQ(bundle.load("DATA", 900), packed.data);
  EXPECT_EQ(bundle.load("PNG", 1020), packed.png);
  EXPECT_EQ(bundle.load("ICON", 128), "");
  EXPECT_FALSE(bundle.load("INI", 801));
  EXPECT_FALSE(bundle.load("ini", 800)) << "types match exactly";
  EXPECT_EQ(copyOut(bundle, "DATA", 900, packed.dir / "copied"), packed.data);
  EXPECT_FALSE(bundle.copyTo("DATA", 901, -1));

  // The program part is the bare program, untouched.
  std::string program = readFile(bareProgram());
  EXPECT_EQ(bundle.programSize(), program.size());
  EXPECT_EQ(readFile(packed.installer).substr(0, program.size()), program);

  auto listed = runProgram({pack(), "--list", packed.installer});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.out, "INI 800 " + std::to_string(packed.ini.size()) + "\nDATA 900 " + std::to_string(packed.data.size()) + "\nPNG 1020 " +
                            std::to_string(packed.png.size()) + "\nICON 128 0\n");
}

TEST(ResourceBundle, RepackingReplacesAndAddsAndKeepsTheRest) {
  Packed packed;
  writeFile(packed.dir / "png2", "other image");
  writeFile(packed.dir / "extra", allByteValues(1));
  std::string second = packed.dir / "second";
  auto result = runProgram({pack(), packed.installer, "-o", second, "--incomplete", "--set",
                            "PNG:1020=" + (packed.dir / "png2"), "--set", "PNG:1021=" + (packed.dir / "extra")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  Result<ResourceBundle> opened = ResourceBundle::open(second);
  ASSERT_TRUE(opened) << opened.why();
  const ResourceBundle& bundle = *opened;
  ASSERT_EQ(bundle.entries().size(), 5u);
  EXPECT_EQ(bundle.load("INI", 800), packed.ini);
  EXPECT_EQ(bundle.load("DATA", 900), packed.data);
  EXPECT_EQ(bundle.load("PNG", 1020), "other image");
  EXPECT_EQ(bundle.load("PNG", 1021), allByteValues(1));
  EXPECT_EQ(bundle.programSize(), readFile(bareProgram()).size());

  // Packing onto itself works too: the base is read before it is replaced.
  result = runProgram({pack(), second, "-o", second, "--incomplete"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ResourceBundle::open(second)->load("PNG", 1021), allByteValues(1));
}

TEST(ResourceBundle, DamagedOrCutBundlesAreRefused) {
  Packed packed;
  const std::uint64_t size = readFile(packed.installer).size();
  const std::uint64_t programSize = ResourceBundle::open(packed.installer)->programSize();
  struct Case {
    const char* name;
    void (*damage)(const std::string& path, std::uint64_t size, std::uint64_t programSize);
  };
  const Case cases[] = {
      {"last byte cut", [](const std::string& p, std::uint64_t s, std::uint64_t) { truncateTo(p, s - 1); }},
      {"cut inside the resources", [](const std::string& p, std::uint64_t, std::uint64_t ps) { truncateTo(p, ps + 1000); }},
      {"cut inside the program", [](const std::string& p, std::uint64_t, std::uint64_t ps) { truncateTo(p, ps / 2); }},
      {"trailer magic changed", [](const std::string& p, std::uint64_t s, std::uint64_t) { flipByte(p, s - 30); }},
      {"entry count changed", [](const std::string& p, std::uint64_t s, std::uint64_t) { flipByte(p, s - 8); }},
      {"directory offset changed", [](const std::string& p, std::uint64_t s, std::uint64_t) { flipByte(p, s - 16); }},
      {"directory entry size changed",
       [](const std::string& p, std::uint64_t s, std::uint64_t) { flipByte(p, s - 32 - 32 * 4 + 24); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = packed.dir / "damaged";
    std::filesystem::copy_file(packed.installer, damaged, std::filesystem::copy_options::overwrite_existing);
    c.damage(damaged, size, programSize);

    Result<ResourceBundle> bundle = ResourceBundle::open(damaged);
    EXPECT_FALSE(bundle);
    EXPECT_EQ(bundle.why().find(damaged + ": damaged resource bundle: "), 0u) << bundle.why();

    auto listed = runProgram({pack(), "--list", damaged});
    EXPECT_NE(listed.exitCode, 0);
    EXPECT_NE(listed.err.find("damaged resource bundle"), std::string::npos) << listed.err;
    auto repacked = runProgram({pack(), damaged, "-o", packed.dir / "out"});
    EXPECT_NE(repacked.exitCode, 0);
    EXPECT_FALSE(pathExists(packed.dir / "out"));
  }
}

TEST(ResourceBundle, ChangedResourceBytesAreNeverHandedOut) {
  Packed packed;
  flipByte(packed.installer, ResourceBundle::open(packed.installer)->find("PNG", 1020)->offset + 3);
  Result<ResourceBundle> bundle = ResourceBundle::open(packed.installer);
  ASSERT_TRUE(bundle) << "the directory is sound: " << bundle.why();
  EXPECT_FALSE(bundle->load("PNG", 1020));
  EXPECT_EQ(bundle->load("INI", 800), packed.ini);
  auto listed = runProgram({pack(), "--list", packed.installer});
  EXPECT_NE(listed.exitCode, 0);
  EXPECT_NE(listed.err.find("PNG 1020 does not match its checksum"), std::string::npos) << listed.err;
}

TEST(ResourceBundle, AProgramWithoutResourcesIsNotDamaged) {
  Result<ResourceBundle> bundle = ResourceBundle::open(bareProgram());
  ASSERT_TRUE(bundle) << bundle.why();
  EXPECT_TRUE(bundle->entries().empty());
  EXPECT_EQ(bundle->programSize(), readFile(bareProgram()).size());
  EXPECT_EQ(ResourceBundle::open(bareProgram() + ".missing").why().find("cannot open "), 0u);
  auto listed = runProgram({pack(), "--list", bareProgram()});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.out, "");
}

TEST(ResourceBundle, PackerRefusesBadRequestsWithoutWritingAnything) {
  TempDir dir;
  writeFile(dir / "file", "x");
  const std::vector<std::vector<std::string>> requests = {
      {"--set", "EXE:1=" + (dir / "file")},
      {"--set", "INI:abc=" + (dir / "file")},
      {"--set", "INI:800"},
      {"--set", "INI:800=" + (dir / "missing")},
      {"--set", "INI:800=" + dir.path()},
      {"--set", "INI:800=" + (dir / "file"), "--set", "INI:800=" + (dir / "file")},
  };
  for (const auto& request : requests) {
    std::vector<std::string> argv = {pack(), bareProgram(), "-o", dir / "out"};
    argv.insert(argv.end(), request.begin(), request.end());
    auto result = runProgram(argv);
    EXPECT_NE(result.exitCode, 0) << request.back();
    EXPECT_FALSE(result.err.empty());
    EXPECT_FALSE(pathExists(dir / "out"));
  }
  auto missingBase = runProgram({pack(), dir / "missing", "-o", dir / "out"});
  EXPECT_NE(missingBase.exitCode, 0);
  EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename(), "file")
      << "no temporary file is left behind";
}

}  // namespace
}  // namespace lumo
