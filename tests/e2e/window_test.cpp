// The installer's real window on an X server of the test's own (Xvfb): a
// non-silent start shows a rounded, frameless 540 × 377 window with its
// title; without any display it says so and ends with its status.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "e2e/sandbox.h"

namespace lumo::test {
namespace {

constexpr const char* kTitle = "Vexta影音1.4.136.6安装程序";  // the install wizard: name, version, "安装程序"
constexpr const char* kBanner = "2b2d6e";
constexpr const char* kBody = "f7f7fa";

// Starts the installer on the test's display, waits for its window, reports
// the window's geometry and the screen's pixels at its corners and inside,
// then ends the installer.
constexpr const char* kProbeScript = R"(
installer=$1 probe=$2 title=$3
# Xvfb picks a free display itself, so parallel runs never race for one.
Xvfb -displayfd 5 -screen 0 800x600x24 -br -nolisten tcp 5>display 2>xvfb.log & xvfb=$!
trap 'kill $pid $xvfb 2>/dev/null' EXIT
for i in $(seq 100); do [ -s display ] && break; sleep 0.1; done
export DISPLAY=:$(cat display)
"$installer" & pid=$!
for i in $(seq 200); do xwininfo -name "$title" 2>/dev/null | grep -q IsViewable && break; sleep 0.1; done
sleep 0.5
xwininfo -name "$title" >info || { cat xvfb.log; exit 1; }
x=$(sed -n 's/.*Absolute upper-left X: *//p' info); y=$(sed -n 's/.*Absolute upper-left Y: *//p' info)
w=$(sed -n 's/.*Width: *//p' info); h=$(sed -n 's/.*Height: *//p' info)
echo "size=${w}x${h}"
r=$((x + w - 1)) b=$((y + h - 1))
"$probe" pixels $x,$y $r,$y $x,$b $r,$b $((x + 3)),$((y + 3)) $((x + 500)),$((y + 300)) |
  sed -e "1s/^[^=]*/topleft/;2s/^[^=]*/topright/;3s/^[^=]*/bottomleft/;4s/^[^=]*/bottomright/;5s/^[^=]*/banner/;6s/^[^=]*/body/"
)";

std::map<std::string, std::string> keyValues(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = line.find('=');
    if (at != std::string::npos) values[line.substr(0, at)] = line.substr(at + 1);
  }
  return values;
}

TEST(RealWindow, ANonSilentStartShowsARoundedFramelessWindowOfTheSkinsSize) {
  if (!pathExists("/usr/bin/Xvfb") || !pathExists("/usr/bin/xwininfo")) GTEST_SKIP() << "xvfb and x11-utils are not installed";
  Sandbox sandbox;
  // Images of one colour each, so that a pixel on screen tells what lies there.
  const std::string probe = buildPath("tests/window_probe");
  const std::string skinned = sandbox.dist() + "/Skinned";
  std::vector<std::string> pack{buildPath("lumo-pack"), sandbox.installer(), "-o", skinned};
  for (auto [id, w, h, colour] : {std::tuple{1023, 540, 161, kBanner}, {1020, 5, 215, kBody}, {1021, 2, 215, kBody},
                                  {1022, 5, 215, kBody}}) {
    const std::string png = sandbox.root() + "/" + std::to_string(id) + ".png";
    ASSERT_EQ(runProgram({probe, "solid", std::to_string(w), std::to_string(h), colour, png}).exitCode, 0);
    pack.insert(pack.end(), {"--set", "PNG:" + std::to_string(id) + "=" + png});
  }
  ASSERT_EQ(runProgram(pack).exitCode, 0);

  auto environment = sandbox.environment();
  environment["QT_QPA_PLATFORM"] = "";  // the window system of the display, whatever the caller uses
  ProcessResult result =
      runProgram({"/bin/bash", "-c", kProbeScript, "probe", skinned, probe, kTitle}, environment, sandbox.root());
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  auto seen = keyValues(result.out);
  EXPECT_EQ(seen["size"], "540x377");
  // The corners are cut away: the black root window shows there.
  for (const char* corner : {"topleft", "topright", "bottomleft", "bottomright"}) {
    EXPECT_EQ(seen[corner], "#000000") << corner;
  }
  EXPECT_EQ(seen["banner"], std::string("#") + kBanner);
  EXPECT_EQ(seen["body"], std::string("#") + kBody);
}

TEST(RealWindow, WithoutADisplayANonSilentStartSaysSoAndEndsWithItsStatus) {
  Sandbox sandbox;
  auto environment = sandbox.environment();  // no DISPLAY, no WAYLAND_DISPLAY
  environment["QT_QPA_PLATFORM"] = "";
  ProcessResult result = runProgram({sandbox.installer()}, environment, sandbox.root());
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_NE(result.err.find("cannot open a window"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace lumo::test
