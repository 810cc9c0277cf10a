#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/registry_store.h"
#include "network/network_fixture.h"
#include "platform/digest.h"
#include "platform/text.h"
#include "script/execution_log.h"

namespace lumo {
namespace {

using test::runCommand;
using test::NetworkTest;

std::string offerLine(const std::string& name, const std::string& root, const std::string& path,
                      const std::string& url, const std::string& check = "1") {
  return "  <item name=\"" + name + "\" keyWord=\"" + name + " is fast\" extendName=\"" + toLowerAscii(name) +
         "\" check=\"" + check + "\" regRoot=\"" + root + "\" regPath=\"" + path + "\" regKey=\"Path\" url=\"" + url + "\"/>\n";
}

std::string offerList(const std::vector<std::string>& lines) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<soft>\r\n";
  for (const auto& line : lines) text += line;
  return text + "</soft>\r\n";
}

void setRegistryString(RegistryRoot root, const std::string& path, const std::string& value, const std::string& text) {
  RegistryResult<RegistryKey> key = createKey(root, path);
  ASSERT_TRUE(key) << key.why();
  RegistryResult<> written = setString(*key, value, text);
  ASSERT_TRUE(written) << written.why();
}

struct Offered {
  std::string name, shortName, check;
};

class OffersTest : public NetworkTest {
 protected:
  OffersTest() { storeIdentity("M1"); }

  Offered place(int n) {
    std::string number = std::to_string(n);
    return {GetVariable("softname" + number), GetVariable("softshortname" + number), GetVariable("softcheck" + number)};
  }

  // Reads a list from a local file.
  void getSoftFrom(const std::string& text) {
    test::writeFile(dir_ / "list.xml", text);
    runCommand("GetSoft", dir_ / "list.xml");
  }

  std::string fourOffers() {
    return offerList({offerLine("Alpha", "HKCU", "Software\\Alpha", server_.base() + "/alpha.sh"),
                      offerLine("Beta", "HKCU", "Software\\Beta", server_.base() + "/beta.sh"),
                      offerLine("Gamma", "HKCU", "Software\\Gamma", server_.base() + "/gamma.sh"),
                      offerLine("Delta", "HKCU", "Software\\Delta", server_.base() + "/delta.sh")});
  }
};

bool operator==(const Offered& a, const Offered& b) {
  return a.name == b.name && a.shortName == b.shortName && a.check == b.check;
}
void PrintTo(const Offered& o, std::ostream* out) { *out << o.name << "/" << o.shortName << "/" << o.check; }

TEST_F(OffersTest, ReadingStopsAfterTwoOffersThatAreNotInstalled) {
  getSoftFrom(fourOffers());
  EXPECT_EQ(place(1), (Offered{"Alpha", "alpha", "1"}));
  EXPECT_EQ(place(2), (Offered{"Beta", "beta", "1"}));
  EXPECT_EQ(place(3), (Offered{"", "", "0"}));
  EXPECT_EQ(GetVariable("softurl1"),
            "Alpha|alpha|Alpha is fast|HKCU|Software\\Alpha|Path|" + server_.base() + "/alpha.sh");
  EXPECT_TRUE(server_.requests().empty());  // a local list downloads nothing
}

TEST_F(OffersTest, AnInstalledOfferTakesAPlaceWithStateZero) {
  setRegistryString(RegistryRoot::CurrentUser, "Software\\Alpha", "Path", "/opt/alpha");
  getSoftFrom(fourOffers());
  EXPECT_EQ(place(1), (Offered{"Alpha", "alpha", "0"}));
  EXPECT_EQ(place(2), (Offered{"Beta", "beta", "1"}));
  EXPECT_EQ(place(3), (Offered{"Gamma", "gamma", "1"}));
}

TEST_F(OffersTest, TheRootAndTheValueSizeDecideWhetherAnOfferIsInstalled) {
  setRegistryString(RegistryRoot::ClassesRoot, "Software\\InClasses", "Path", "x");
  setRegistryString(RegistryRoot::LocalMachine, "Software\\InMachine", "Path", "x");
  setRegistryString(RegistryRoot::CurrentUser, "Software\\InUser", "Path", "x");
  setRegistryString(RegistryRoot::CurrentUser, "Software\\Fits", "Path", std::string(259, 'x'));
  setRegistryString(RegistryRoot::CurrentUser, "Software\\TooLong", "Path", std::string(260, 'x'));
  struct Case {
    const char* root;
    const char* path;
    const char* check;
  } cases[] = {
      {"HKCT", "Software\\InClasses", "0"}, {"HKCR", "Software\\InClasses", "1"},
      {"HKCR", "Software\\InMachine", "0"}, {"hkcu", "Software\\InUser", "1"},
      {"HKCU", "SOFTWARE\\inuser", "0"},    {"HKCU", "Software\\Fits", "0"},
      {"HKCU", "Software\\TooLong", "1"},   {"HKCU", "Software\\Nowhere", "1"},
  };
  for (const auto& c : cases) {
    useScript("");
    getSoftFrom(offerList({offerLine("One", c.root, c.path, "http://127.0.0.1/one.sh")}));
    EXPECT_EQ(GetVariable("softcheck1"), c.check) << c.root << " " << c.path;
  }
}

TEST_F(OffersTest, AttributesOutOfOrderGiveWrongValuesRatherThanAnError) {
  getSoftFrom(
      "<item keyWord=\"k\" name=\"n\" extendName=\"e\" check=\"1\" regRoot=\"HKCU\" regPath=\"p\" regKey=\"v\" "
      "url=\"u\"/>\n");
  EXPECT_EQ(GetVariable("softname1"), "n");
  EXPECT_EQ(GetVariable("softurl1"), "n|heck=|dName=|HKCU|p|v|u");
}

TEST_F(OffersTest, ALineCutShortGivesEmptyValues) {
  getSoftFrom("<item name=\"Short\"\n<item\n");
  EXPECT_EQ(GetVariable("softurl1"), "Short||||||");
  EXPECT_EQ(GetVariable("softurl2"), "||||||");
}

TEST_F(OffersTest, TheListIsFetchedInLowerCaseAndMayStartWithAByteOrderMark) {
  server_.serve("/lists/offers.xml", "\xEF\xBB\xBF" + fourOffers());
  runCommand("GetSoft", server_.base() + "/Lists/Offers.XML");
  EXPECT_EQ(server_.requestLines(), std::vector<std::string>{"GET /lists/offers.xml HTTP/1.1"});
  EXPECT_EQ(place(1), (Offered{"Alpha", "alpha", "1"}));
  EXPECT_TRUE(test::pathExists(runEnvironment().tempDir + "gotsoft.xml"));
}

TEST_F(OffersTest, AFailedListDownloadLeavesTheEarlierListInUse) {
  test::writeFile(runEnvironment().tempDir + "gotsoft.xml", offerList({offerLine("Old", "HKCU", "Software\\Old", "u")}));
  runCommand("GetSoft", server_.base() + "/missing.xml");
  EXPECT_EQ(place(1), (Offered{"Old", "old", "1"}));
}

TEST_F(OffersTest, AListAnotherUserLeftInTheTemporaryFolderIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  std::string list = runEnvironment().tempDir + "gotsoft.xml";
  test::writeFile(list, offerList({offerLine("Planted", "HKCU", "Software\\Planted", "u")}));
  ASSERT_EQ(::chown(list.c_str(), 65534, 65534), 0);
  runCommand("GetSoft", server_.base() + "/missing.xml");
  EXPECT_EQ(place(1), (Offered{"", "", "0"}));
}

TEST_F(OffersTest, ALocalPathMayUseBackslashesAndNothingHappensWithoutAList) {
  test::writeFile(dir_ / "lists/offers.xml", fourOffers());
  runCommand("GetSoft", replaceAll(dir_ / "lists/offers.xml", "/", "\\"));
  EXPECT_EQ(place(2), (Offered{"Beta", "beta", "1"}));

  useScript("");
  runCommand("GetSoft", "");
  runCommand("GetSoft", dir_ / "lists/none.xml");
  EXPECT_EQ(place(1), (Offered{"", "", "0"}));
}

TEST_F(OffersTest, DownloadAndInstallDoesNothingForAnEmptyOrUntickedPlace) {
  ASSERT_TRUE(openExecutionLog(dir_ / "LumoInstaller.log"));
  useScript("softname2=Beta\nsoftcheck2=0\n");
  runCommand("DownloadAndInstall", "   ");
  runCommand("DownloadAndInstall", "Beta|beta|fast|HKCU|Software\\Beta|Path|" + server_.base() + "/beta.sh");
  closeExecutionLog();
  EXPECT_EQ(gbkToUtf8(test::readFile(dir_ / "LumoInstaller.log")),
            "Additional software Beta install canceled by user!\r\n");
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_TRUE(host_.balloons.empty());
}

TEST_F(OffersTest, DownloadAndInstallWantsSevenFields) {
  try {
    runCommand("DownloadAndInstall", " Beta|beta|fast|HKCU|Software\\Beta|Path ");
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& error) {
    EXPECT_STREQ(error.what(), "[DownloadAndInstall] Invalid arguments (nArg!=7): Beta|beta|fast|HKCU|Software\\Beta|Path");
  }
}

// The installer is a script that records its arguments.
TEST_F(OffersTest, ATickedOfferIsDownloadedStartedSilentlyAndReported) {
  std::string record = dir_ / "installer-arguments";
  server_.serve("/beta-setup.sh",
                "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".part'\nmv '" + record + ".part' '" + record + "'\n");
  useScript("softname1=Alpha\nsoftcheck1=0\nsoftname2=Beta\nsoftcheck2=1\n");
  std::string installer = runEnvironment().tempDir + "beta-setup.sh";
  test::writeFile(installer, "an older download");

  runCommand("DownloadAndInstall", "Beta|beta|Beta is fast|HKCU|Software\\Beta|Path|" + server_.base() + "/beta-setup.sh");

  for (int i = 0; i < 100 && !test::pathExists(record); ++i) ::usleep(50 * 1000);
  EXPECT_EQ(test::readFile(record), "-s\n");
  struct stat info{};
  ASSERT_EQ(::stat(installer.c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
  EXPECT_EQ(server_.requestLines(), (std::vector<std::string>{"GET /beta-setup.sh HTTP/1.1",
                                                              reportLine("install", "downloadOk", "beta", "1", "M1"),
                                                              reportLine("install", "installOk", "beta", "1", "M1")}));
  using Balloon = std::pair<std::string, std::string>;
  EXPECT_EQ(host_.balloons, (std::vector<Balloon>{{"正在为您下载 Beta", "Beta is fast"},
                                                  {"正在为您安装 Beta", "Beta is fast"}}));
}

TEST_F(OffersTest, AFailedInstallerDownloadIsReportedAndThenRunFails) {
  EXPECT_THROW(runCommand("DownloadAndInstall", "Beta|beta|fast||||" + server_.base() + "/gone.sh"), ScriptError);
  EXPECT_EQ(server_.requestLines(), (std::vector<std::string>{"GET /gone.sh HTTP/1.1",
                                                              reportLine("install", "downloadOk", "beta", "1", "M1")}));
}

// What a failed download could not replace is never started, not even a
// folder (which the desktop would open).
TEST_F(OffersTest, NothingIsStartedWhenTheInstallerCouldNotBeWritten) {
  std::string squatted = runEnvironment().tempDir + "beta-setup.sh";
  test::writeFile(squatted + "/inside", "x");
  server_.serve("/beta-setup.sh", "#!/bin/sh\n");
  struct Case {
    std::string address;
    std::string path;
  } cases[] = {{server_.base() + "/beta-setup.sh", squatted}, {server_.base() + "/", runEnvironment().tempDir}};
  for (const auto& c : cases) {
    try {
      runCommand("DownloadAndInstall", "Beta|beta|fast||||" + c.address);
      ADD_FAILURE() << "no error for " << c.address;
    } catch (const ScriptError& error) {
      EXPECT_EQ(std::string(error.what()), "[Run] Source executable not found: " + c.path);
    }
  }
  EXPECT_TRUE(test::pathExists(squatted + "/inside"));
}

// The digest the list names travels beside the record; a download runs only
// when its SHA-256 matches, and without a digest it runs with a warning.
TEST_F(OffersTest, AnOffersDigestDecidesWhetherItsDownloadRuns) {
  const std::string installer = "#!/bin/sh\ntouch \"$0.ran\"\n";
  test::writeFile(dir_ / "reference", installer);
  const std::string digest = *fileSha256(dir_ / "reference");
  const std::string other = std::string(63, '0') + "1";
  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct Case {
    std::string check;
    bool runs;
    std::string logged;  // a line the execution log must hold
  } cases[] = {
      {"sha256:" + digest, true, ""},
      {"sha256:" + upper, true, ""},
      {"1", true, "the offer names no sha256 digest; the download runs unchecked"},
      {"", true, "the offer names no sha256 digest; the download runs unchecked"},
      {"sha256:" + other, false, ": SHA-256 " + digest + " differs from the offer's " + other},
      {"sha256:" + digest.substr(1), false, "is not sha256: and 64 hex digits"},
      {"sha256:" + digest + "0", false, "is not sha256: and 64 hex digits"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string file = "offer" + std::to_string(++n) + ".sh";
    std::string address = server_.base() + "/" + file;
    std::string local = runEnvironment().tempDir + file;
    server_.serve("/" + file, installer);
    useScript("");
    getSoftFrom(offerList({offerLine("Beta", "HKCU", "Software\\Beta", address, c.check)}));
    std::string log = dir_ / (file + ".log");
    ASSERT_TRUE(openExecutionLog(log));
    std::string error = test::commandError("DownloadAndInstall", GetVariable("softurl1"));
    closeExecutionLog();
    std::string written = gbkToUtf8(test::readFile(log));

    for (int i = 0; i < 100 && c.runs && !test::pathExists(local + ".ran"); ++i) ::usleep(50 * 1000);
    EXPECT_EQ(test::pathExists(local + ".ran"), c.runs) << c.check;
    EXPECT_EQ(test::pathExists(local), c.runs) << c.check;  // a refused download is deleted
    EXPECT_EQ(error, c.runs ? "(no error)" : "[Run] Source executable not found: " + local) << c.check;
    if (c.logged.empty())
      EXPECT_EQ(written, "") << c.check;
    else
      EXPECT_NE(written.find("[DownloadAndInstall] " + address + ": "), std::string::npos) << written;
    EXPECT_NE(written.find(c.logged), std::string::npos) << c.check << "\n" << written;
  }
}

}  // namespace
}  // namespace lumo
