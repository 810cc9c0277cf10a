#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/desktop_favourites.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::pathExists;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

// A stand-in for gsettings on PATH: it answers for GNOME's shell settings
// from a file and records every call, so no real desktop session is touched.
class FakeSession {
 public:
  explicit FakeSession(const TempDir& dir, const std::string& favourites)
      : dir_(dir), path_("PATH", dir / "bin"), data_("XDG_DATA_HOME", dir / "data"),
        dirs_("XDG_DATA_DIRS", dir / "system"), bus_("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir / "no-bus")) {
    writeFile(dir / "favourites", favourites + "\n");
    writeFile(dir / "bin/gsettings",
              "#!/bin/sh\n"
              "echo \"$@\" >> '" + (dir / "calls") + "'\n"
              "case \"$1\" in\n"
              "  list-keys) echo enabled-extensions; echo favorite-apps ;;\n"
              "  get) /bin/cat '" + (dir / "favourites") + "' ;;\n"
              "  set) echo \"$4\" > '" + (dir / "favourites") + "' ;;\n"
              "esac\n");
    ::chmod((dir / "bin/gsettings").c_str(), 0755);
  }
  std::string calls() const { return readFile(dir_ / "calls"); }
  std::string favourites() const { return readFile(dir_ / "favourites"); }

 private:
  const TempDir& dir_;
  ScopedEnv path_, data_, dirs_, bus_;
};

TEST(PinTaskBar, AddsTheDesktopLinkToTheFavouritesOnce) {
  TempDir dir;
  FakeSession session(dir, "['org.gnome.Nautilus.desktop', 'firefox-esr.desktop']");
  writeFile(dir / "Desktop/Vexta影音.desktop", "[Desktop Entry]\nType=Application\nName=Vexta影音\nExec=/p\n");
  callCommand(currentCommandContext(), "PinTaskBar", dir.path() + "\\Desktop\\Vexta影音.lnk");
  EXPECT_EQ(session.favourites(), "['org.gnome.Nautilus.desktop', 'firefox-esr.desktop', 'Vexta影音.desktop']\n");
  // Favourites name installed entries, so the link was installed for the user.
  EXPECT_EQ(readFile(dir / "data/applications/Vexta影音.desktop"), readFile(dir / "Desktop/Vexta影音.desktop"));
  callCommand(currentCommandContext(), "PinTaskBar", dir / "Desktop/Vexta影音.desktop");
  EXPECT_EQ(session.calls().find("set", session.calls().find("set") + 1), std::string::npos);
}

TEST(PinTaskBar, AnEntryOfTheMenuIsPinnedByItsId) {
  TempDir dir;
  FakeSession session(dir, "@as []");
  writeFile(dir / "system/applications/vexta/player.desktop", "[Desktop Entry]\n");
  EXPECT_EQ(pinToFavourites(dir / "system/applications/vexta/player.desktop"), PinOutcome::Pinned);
  EXPECT_EQ(session.favourites(), "['vexta-player.desktop']\n");
  EXPECT_FALSE(pathExists(dir / "data/applications"));
}

TEST(PinTaskBar, WithoutASessionOrALinkNothingIsAsked) {
  TempDir dir;
  FakeSession session(dir, "@as []");
  callCommand(currentCommandContext(), "PinTaskBar", dir / "Desktop/missing.lnk");
  EXPECT_FALSE(pathExists(dir / "calls"));
  writeFile(dir / "Desktop/x.desktop", "[Desktop Entry]\n");
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  callCommand(currentCommandContext(), "PinTaskBar", dir / "Desktop/x.desktop");
  EXPECT_FALSE(pathExists(dir / "calls"));
  EXPECT_EQ(pinToFavourites(dir / "Desktop/x.desktop"), PinOutcome::NotOffered);
}

TEST(PinTaskBar, StringArraysRoundTrip) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  } cases[] = {
      {"@as []", {}},
      {"['a.desktop']", {"a.desktop"}},
      {"['it\\'s.desktop', \"b\\\\c.desktop\"]", {"it's.desktop", "b\\c.desktop"}},
      {"['\\u5f71.desktop']", {"影.desktop"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseStringArray(c.text), c.items) << c.text;
    EXPECT_EQ(parseStringArray(formatStringArray(c.items)), c.items) << c.text;
  }
}

}  // namespace
}  // namespace lumo
