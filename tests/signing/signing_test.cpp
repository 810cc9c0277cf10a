// Signed installers: keys and signatures that lumo-pack writes are checked
// with the minisign program, keys that minisign writes sign with lumo-pack,
// and any change after signing is refused by both.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace lumo::test {
namespace {

constexpr const char* kMinisign = "/usr/bin/minisign";

ProcessResult pack(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{buildPath("lumo-pack")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv);
}

ProcessResult minisign(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{kMinisign};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv);
}

class SigningTest : public ::testing::Test {
 protected:
  SigningTest() {
    EXPECT_EQ(pack({"keygen", "-o", dir_ / "release"}).exitCode, 0);
    // An installer: a program (lumo-pack itself serves) with the default
    // script, whose [var] names the product and its version.
    ProcessResult packed = pack({buildPath("lumo-pack"), "-o", installer_, "--incomplete", "--set",
                                 "INI:800=" + std::string(LUMO_SOURCE_DIR) + "/resources/install.ini", "-k",
                                 dir_ / "release.key"});
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
  }

  TempDir dir_;
  std::string installer_ = dir_ / "Setup";
};

TEST_F(SigningTest, AKeyPairIsWrittenOnceWithAPrivateSecretKeyThatIsCheckedBeforeUse) {
  struct stat info{};
  ASSERT_EQ(::stat((dir_ / "release.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string secret = readFile(dir_ / "release.key");
  ProcessResult again = pack({"keygen", "-o", dir_ / "release"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
  EXPECT_EQ(readFile(dir_ / "release.key"), secret);

  // A secret key damaged in its secret half signs nothing.
  std::size_t keyLine = secret.find('\n') + 1;
  secret[keyLine + 120] = secret[keyLine + 120] == 'A' ? 'B' : 'A';
  writeFile(dir_ / "damaged.key", secret);
  ProcessResult signedWithDamage = pack({"sign", "-k", dir_ / "damaged.key", installer_});
  EXPECT_EQ(signedWithDamage.exitCode, 1);
  EXPECT_NE(signedWithDamage.err.find("the secret key is damaged"), std::string::npos) << signedWithDamage.err;
}

TEST_F(SigningTest, MinisignAndLumoPackAcceptTheSignatureOfAPackedInstaller) {
  ProcessResult checked = minisign({"-V", "-p", dir_ / "release.pub", "-m", installer_});
  EXPECT_EQ(checked.exitCode, 0) << checked.err;
  EXPECT_NE(checked.out.find("Trusted comment: product:Vexta影音\tversion:1.4.136.6\tfile:Setup\ttimestamp:"),
            std::string::npos)
      << checked.out;

  ProcessResult verified = pack({"--verify", "-p", dir_ / "release.pub", installer_});
  EXPECT_EQ(verified.exitCode, 0) << verified.err;
  EXPECT_NE(verified.out.find(installer_ + ": signed; trusted comment: product:Vexta影音"), std::string::npos);
  EXPECT_NE(verified.out.find(installer_ + ": sound"), std::string::npos);
}

// Keys made by either program sign files that the other one verifies.
TEST_F(SigningTest, KeysOfEitherProgramSignForTheOther) {
  std::string file = dir_ / "notes.txt";
  writeFile(file, "release notes\n");
  ASSERT_EQ(minisign({"-G", "-W", "-p", dir_ / "theirs.pub", "-s", dir_ / "theirs.key"}).exitCode, 0);

  ProcessResult ours = pack({"sign", "-k", dir_ / "theirs.key", "-t", "made with their key", file});
  ASSERT_EQ(ours.exitCode, 0) << ours.err;
  ProcessResult checked = minisign({"-V", "-p", dir_ / "theirs.pub", "-m", file});
  EXPECT_EQ(checked.exitCode, 0) << checked.err;
  EXPECT_NE(checked.out.find("Trusted comment: made with their key"), std::string::npos) << checked.out;

  // Both kinds of their signatures: over the digest, and the older kind
  // over the file itself.
  for (const char* kind : {"-H", "-l"}) {
    ProcessResult theirs =
        minisign({"-S", kind, "-W", "-s", dir_ / "release.key", "-t", "made with our key", "-m", installer_});
    ASSERT_EQ(theirs.exitCode, 0) << theirs.err;
    ProcessResult verified = pack({"--verify", "-p", dir_ / "release.pub", installer_});
    EXPECT_EQ(verified.exitCode, 0) << kind << verified.err;
    EXPECT_NE(verified.out.find("trusted comment: made with our key"), std::string::npos) << verified.out;
  }
}

TEST_F(SigningTest, AnyChangeAfterSigningIsRefusedByBoth) {
  std::string signature = installer_ + ".minisig";
  std::string original = readFile(installer_);
  std::string originalSignature = readFile(signature);
  ASSERT_EQ(minisign({"-G", "-W", "-p", dir_ / "other.pub", "-s", dir_ / "other.key"}).exitCode, 0);

  struct Case {
    const char* change;
    std::string installer;
    std::string signature;
    std::string key;
    std::string reason;
  } cases[] = {
      {"a byte of the program", [&] { std::string s = original; s[100] ^= 1; return s; }(), originalSignature,
       "release.pub", "the signature does not match the file"},
      {"the last byte", [&] { std::string s = original; s.back() ^= 0x40; return s; }(), originalSignature,
       "release.pub", "the signature does not match the file"},
      {"the trusted comment", original,
       [&] {
         std::string s = originalSignature;
         s.replace(s.find("version:1.4.136.6"), 17, "version:9.9.999.9");
         return s;
       }(),
       "release.pub", "the trusted comment was changed"},
      {"another key", original, originalSignature, "other.pub", "was made with the key"},
  };
  for (const auto& c : cases) {
    writeFile(installer_, c.installer);
    writeFile(signature, c.signature);
    ProcessResult theirs = minisign({"-V", "-p", dir_ / c.key, "-m", installer_});
    EXPECT_NE(theirs.exitCode, 0) << c.change;
    ProcessResult ours = pack({"--verify", "-p", dir_ / c.key, installer_});
    EXPECT_EQ(ours.exitCode, 1) << c.change;
    EXPECT_NE(ours.err.find(c.reason), std::string::npos) << c.change << ": " << ours.err;
  }
}

}  // namespace
}  // namespace lumo::test
