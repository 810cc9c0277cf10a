#include "commands/identity.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/profile_file.h"
#include "formats/registry_store.h"
#include "network/network_fixture.h"

namespace lumo::commands {
namespace {

constexpr const char* kIdentityKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Imee\\Address";

// 32 hexadecimal digits, the third group (digits 13 to 16) in lower case.
bool isGuidForm(const std::string& id) {
  if (id.size() != 32) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    bool lower = i >= 12 && i < 16;
    char c = id[i];
    bool digit = c >= '0' && c <= '9';
    if (!digit && !(lower ? c >= 'a' && c <= 'f' : c >= 'A' && c <= 'F')) return false;
  }
  return true;
}

TEST(IdentityForms, GuidFormHasALowerCaseThirdGroup) {
  Guid guid{0x0123ABCD, 0xBEEF, 0xCAFE, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(guidIdentifier(guid), "0123ABCDBEEFcafe0123456789ABCDEF");
  EXPECT_EQ(guidIdentifier(Guid{}), "00000000000000000000000000000000");
}

TEST(IdentityForms, FallbackFormIsDecimalNumbersAndTheAdapterAddress) {
  HardwareAddress adapter{0x00, 0x1a, 0x2B, 0xc4, 0xff, 0x09};
  EXPECT_EQ(fallbackIdentifier(1700000000, 42, 1804289383, adapter), "17000000004201804289383001A2BC4FF09");
  EXPECT_EQ(fallbackIdentifier(1700000000, 42, 7, std::nullopt), "17000000004207");
}

TEST(IdentityForms, NewGuidsDiffer) {
  auto a = createGuid();
  auto b = createGuid();
  ASSERT_TRUE(a && b);
  EXPECT_NE(guidIdentifier(*a), guidIdentifier(*b));
  EXPECT_EQ(a->data3 >> 12, 4);  // a random GUID
}

class IdentityTest : public test::NetworkTest {
 protected:
  std::string registryValue() {
    RegistryResult<RegistryKey> key = openKey(RegistryRoot::CurrentUser, kIdentityKey);
    if (!key) return "(no key)";
    RegistryResult<RegistryValue> value = queryValue(*key, "MacAddr");
    if (!value) return "(no value)";
    return valueText(*value);
  }
  void setRegistryValue(const std::string& text) {
    RegistryResult<RegistryKey> key = createKey(RegistryRoot::CurrentUser, kIdentityKey);
    ASSERT_TRUE(key) << key.why();
    RegistryResult<> written = setString(*key, "MacAddr", text);
    ASSERT_TRUE(written) << written.why();
  }
  std::string fileValue() {
    return ProfileFile(identityFilePath(), TextEncoding::Utf8).read("Install", "ID").value_or("(none)");
  }
  // What start-up does before the next run.
  void newRun() { SetVariable("macaddr", ""); }
};

TEST_F(IdentityTest, AFirstReportMakesAGuidAndStoresItInBothPlaces) {
  ASSERT_NE(findHandler("ReadReg"), nullptr);
  std::string id = GetMachineId();
  EXPECT_TRUE(isGuidForm(id)) << id;
  EXPECT_EQ(fileValue(), id);
  EXPECT_EQ(registryValue(), id);
  EXPECT_EQ(GetMachineId(), id);
  newRun();
  EXPECT_EQ(GetMachineId(), id);
}

TEST_F(IdentityTest, ARegistryValueIsTrimmedCopiedToTheFileAndNotRewritten) {
  setRegistryValue("  R1 ");
  EXPECT_EQ(GetMachineId(), "R1");
  EXPECT_EQ(fileValue(), "R1");
  EXPECT_EQ(registryValue(), "  R1 ");
}

TEST_F(IdentityTest, TheFileRestoresALostRegistryValue) {
  storeIdentity(" F1 ");
  EXPECT_EQ(GetMachineId(), "F1");
  EXPECT_EQ(registryValue(), "F1");
}

TEST_F(IdentityTest, TheIdentitySurvivesTheLossOfEitherStore) {
  std::string id = GetMachineId();

  std::filesystem::remove(identityFilePath());
  newRun();
  EXPECT_EQ(GetMachineId(), id);
  EXPECT_EQ(fileValue(), id);

  RegistryResult<> deleted = deleteKey(RegistryRoot::CurrentUser, kIdentityKey);
  ASSERT_TRUE(deleted) << deleted.why();
  newRun();
  EXPECT_EQ(GetMachineId(), id);
  EXPECT_EQ(registryValue(), id);

  // A rollback removes the whole shared data folder: the file cannot be
  // written then, and the registry still answers.
  std::filesystem::remove_all(runEnvironment().kernel + "/LumoClient");
  newRun();
  EXPECT_EQ(GetMachineId(), id);
  EXPECT_FALSE(test::pathExists(identityFilePath()));
}

TEST_F(IdentityTest, WithoutTheFileFolderTheRegistryStillGetsANewIdentifier) {
  std::filesystem::remove_all(runEnvironment().kernel + "/LumoClient");
  std::string id = GetMachineId();
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(registryValue(), id);
}

TEST_F(IdentityTest, EveryReportCarriesTheIdentity) {
  callCommand(currentCommandContext(), "SendLog", "install|start||");
  std::string id = fileValue();
  EXPECT_EQ(server_.requestLines(), std::vector<std::string>{reportLine("install", "start", "", "", id)});
}

}  // namespace
}  // namespace lumo::commands
