// The uninstall entry as a user runs it: the copied installer started with
// "-uinst" on an X server of the test's own (Xvfb), driven by pointer clicks
// on the real window.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/sandbox.h"
#include "platform/text.h"

namespace lumo::test {
namespace {

constexpr const char* kFeedback = "http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=1.4.136.6";

// Starts the uninstaller, waits for its window, ticks the clear-user-data
// box, presses uninstall, waits until the script has deleted the uninstaller
// (its last step before it reports the removal), presses OK until the
// program ends (a busy machine may show the button late; before that a click
// there lands on the empty body) and reports the window's title and the
// program's exit status. Clicks are in window coordinates, in the middle of
// each control.
constexpr const char* kUserScript = R"sh(
uninstaller=$1 gone=$2
# Xvfb picks a free display itself, so parallel runs never race for one.
Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp 5>display 2>xvfb.log & xvfb=$!
trap 'kill $pid $xvfb 2>/dev/null' EXIT
# A loaded machine can take seconds to start it.
for i in $(seq 300); do [ -s display ] && break; sleep 0.1; done
[ -s display ] || { echo "no X server"; cat xvfb.log; exit 1; }
export DISPLAY=:$(cat display)
"$uninstaller" -uinst & pid=$!
wid=
for i in $(seq 200); do
  wid=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | head -n 1)
  [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || { echo "no window"; cat xvfb.log; exit 1; }
sleep 0.5
echo "title=$(xdotool getwindowname $wid)"
click() { xdotool mousemove --window $wid $1 $2 click 1; sleep 0.3; }
click 81 228
click 348 331
for i in $(seq 300); do [ -e "$gone" ] || break; sleep 0.1; done
[ -e "$gone" ] && echo "the uninstaller is still there"
for i in $(seq 60); do kill -0 $pid 2>/dev/null || break; click 270 317; done
kill -0 $pid 2>/dev/null && { echo "the dialog did not end"; kill $pid; }
wait $pid
echo "status=$?"
)sh";

// xdg-open is what opens the feedback page: this one writes down its argument.
constexpr const char* kFakeOpener = "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/../opened\"\n";

TEST(UninstallWindow, TickingTheBoxAndPressingUninstallThenOkRemovesTheProductAndOpensTheFeedbackPage) {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"}) {
    if (!pathExists(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  Sandbox box;
  ProcessResult install = box.run(box.installer(), {"/s"});
  ASSERT_EQ(install.exitCode, 0) << install.err;
  ASSERT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
  ASSERT_TRUE(pathExists(box.kernel() + "/LumoClient"));

  writeFile(box.root() + "/bin/xdg-open", kFakeOpener);
  ASSERT_EQ(runProgram({"/bin/chmod", "+x", box.root() + "/bin/xdg-open"}).exitCode, 0);
  auto environment = box.environment();
  environment["QT_QPA_PLATFORM"] = "";  // the window system of the display, whatever the caller uses
  environment["PATH"] = box.root() + "/bin:/usr/bin:/bin";
  ProcessResult user = runProgram({"/bin/bash", "-c", kUserScript, "user", box.uninstaller(), box.uninstaller()},
                                  environment, box.root());
  ASSERT_EQ(user.exitCode, 0) << user.out << user.err;
  EXPECT_NE(user.out.find("title=Vexta影音1.4.136.6卸载程序\n"), std::string::npos) << user.out;
  EXPECT_NE(user.out.find("status=0\n"), std::string::npos) << user.out << user.err;

  EXPECT_FALSE(pathExists(box.installDir())) << "the product is gone";
  EXPECT_FALSE(pathExists(box.kernel() + "/LumoClient")) << "the ticked box removed the user's data";
  // The opener runs on after the uninstaller has ended.
  for (int i = 0; i < 50 && !pathExists(box.root() + "/opened"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(readFile(box.root() + "/opened"), std::string(kFeedback) + "\n");
}

}  // namespace
}  // namespace lumo::test
