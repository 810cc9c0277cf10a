// The install wizard on an X server of the test's own (Xvfb): a person's
// clicks, sent by xdotool, install the default product and close the wizard.
#include <gtest/gtest.h>

#include "e2e/sandbox.h"

namespace lumo::test {
namespace {

constexpr const char* kTitle = "Vexta影音1.4.136.6安装程序";

// Starts the installer and, once its window shows, unticks the
// run-after-install box at (60, 248) (ticked at start: the product would
// start and the wizard hide by itself), clicks the install button at
// (270, 330), then clicks the close button at (522, 11) until the
// installer ends: the button is disabled while the installation runs, and
// on the finished face a click hides the wizard, which ends with the close
// timer.
constexpr const char* kClickScript = R"(
installer=$1 title=$2
# Xvfb picks a free display itself, so parallel runs never race for one.
Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp 5>display 2>xvfb.log & xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
for i in $(seq 100); do [ -s display ] && break; sleep 0.1; done
export DISPLAY=:$(cat display)
"$installer" & pid=$!
for i in $(seq 150); do wid=$(xdotool search --name "$title" 2>/dev/null | head -1); [ -n "$wid" ] && break; sleep 0.1; done
[ -n "$wid" ] || { kill $pid; echo "no window"; exit 1; }
sleep 0.5
xdotool mousemove --window "$wid" 60 248 click 1
sleep 0.2
xdotool mousemove --window "$wid" 270 330 click 1
for i in $(seq 240); do
  sleep 0.5
  kill -0 $pid 2>/dev/null || break
  xdotool mousemove --window "$wid" 522 11 click 1 2>/dev/null
done
kill -0 $pid 2>/dev/null && { kill $pid; echo "still running"; exit 1; }
wait $pid
)";

TEST(RealWizard, ClickingInstallInstallsTheProductAndClosingEndsTheRun) {
  if (!pathExists("/usr/bin/Xvfb") || !pathExists("/usr/bin/xdotool")) {
    GTEST_SKIP() << "xvfb and xdotool are not installed";
  }
  Sandbox sandbox;
  auto environment = sandbox.environment();
  environment["QT_QPA_PLATFORM"] = "";  // the window system of the display, whatever the caller uses
  ProcessResult result =
      runProgram({"/bin/bash", "-c", kClickScript, "click", sandbox.installer(), kTitle}, environment, sandbox.root());
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_TRUE(pathExists(sandbox.installDir() + "/LumoClient.exe"));
  const std::string log = readFile(sandbox.kernel() + "/LumoClient/LumoInstaller.log");
  EXPECT_NE(log.find("LumoShellParser::ExecInstallOK"), std::string::npos);
  EXPECT_NE(log.find("SendLog install|complete||+setuprun=0"), std::string::npos) << "closed from the finished face";
}

// The same installation from the keyboard alone: the focus starts on the
// install button; Shift+Tab reaches the run-after-install box, Space unticks
// it, Return installs, and Esc closes the finished face (ignored while the
// installation runs).
constexpr const char* kKeyScript = R"sh(
installer=$1 title=$2
# Xvfb picks a free display itself. A display whose number another X server
# of the machine answers for (shared abstract sockets) is kept busy and the
# next one taken: ours is the one that has our 800 x 600 screen.
servers=
for attempt in 1 2 3 4; do
  rm -f display
  Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp 5>display 2>>xvfb.log & servers="$servers $!"
  # A loaded machine can take seconds to start it.
  for i in $(seq 300); do [ -s display ] && break; sleep 0.1; done
  [ -s display ] || continue
  export DISPLAY=:$(cat display)
  [ "$(xdotool getdisplaygeometry 2>/dev/null)" = "800 600" ] && break
done
trap 'kill $servers 2>/dev/null' EXIT
[ "$(xdotool getdisplaygeometry 2>/dev/null)" = "800 600" ] || { echo "no X server of our own"; cat xvfb.log; exit 1; }
"$installer" & pid=$!
for i in $(seq 300); do wid=$(xdotool search --name "$title" 2>/dev/null | head -1); [ -n "$wid" ] && break; sleep 0.1; done
[ -n "$wid" ] || { kill $pid; echo "no window"; exit 1; }
sleep 0.5
xdotool windowfocus --sync "$wid"
sleep 0.2
xdotool key --delay 200 shift+Tab space Return
for i in $(seq 240); do
  sleep 0.5
  kill -0 $pid 2>/dev/null || break
  xdotool key Escape 2>/dev/null
done
kill -0 $pid 2>/dev/null && { kill $pid; echo "still running"; exit 1; }
wait $pid
)sh";

TEST(RealWizard, TheKeyboardAloneInstallsTheProductAndClosesTheWizard) {
  if (!pathExists("/usr/bin/Xvfb") || !pathExists("/usr/bin/xdotool")) {
    GTEST_SKIP() << "xvfb and xdotool are not installed";
  }
  Sandbox sandbox;
  auto environment = sandbox.environment();
  environment["QT_QPA_PLATFORM"] = "";
  ProcessResult result =
      runProgram({"/bin/bash", "-c", kKeyScript, "keys", sandbox.installer(), kTitle}, environment, sandbox.root());
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_TRUE(pathExists(sandbox.installDir() + "/LumoClient.exe"));
  const std::string log = readFile(sandbox.kernel() + "/LumoClient/LumoInstaller.log");
  EXPECT_NE(log.find("SendLog install|complete||+setuprun=0"), std::string::npos)
      << "the run-after box was unticked by Space and the finished face closed by Esc";
}

}  // namespace
}  // namespace lumo::test
