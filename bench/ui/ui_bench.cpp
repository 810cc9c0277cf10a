// The skinned window, offscreen, with the skin of an installer
// (build/LumoInstaller unless one is named):
//   - from the start of the program (before the application object) to the
//     first painted frame of the window: application, fonts, skin images,
//     widgets, first paint; a real start adds [installinit] before it;
//   - one full-surface composition and one whole-window repaint, averaged.
// Prints the figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <chrono>
#include <cstdio>

#include "script/run_environment.h"
#include "app/startup.h"
#include "ui/lumo_dialog.h"
#include "ui/skin.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Notes when the window has painted.
class PaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point start = Clock::now();
  const char* installer = argc > 1 ? argv[1] : LUMO_BUILD_DIR "/LumoInstaller";
  qputenv("QT_QPA_PLATFORM", "offscreen");
  lumo::runEnvironment().interfaceFont = std::string(lumo::kInterfaceFont);
  QApplication application(argc, argv);
  lumo::ui::installFontSubstitution();
  lumo::ui::useSkinOf(installer);

  lumo::ui::CLumoDialog dialog;
  PaintWatch watch;
  dialog.installEventFilter(&watch);
  dialog.show();
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QCoreApplication::processEvents();
  const double firstFrame = msSince(start);

  dialog.setProgressBarVisible(true);
  dialog.showProgress(42);
  constexpr int kRounds = 500;
  Clock::time_point composing = Clock::now();
  for (int i = 0; i < kRounds; ++i) dialog.composeSurface();
  const double compose = msSince(composing) / kRounds;
  Clock::time_point repainting = Clock::now();
  for (int i = 0; i < kRounds; ++i) dialog.repaint();
  const double repaint = msSince(repainting) / kRounds;

  std::printf("skin: %s\n", installer);
  std::printf("start to first painted frame: %.1f ms (target < 300 ms after [installinit])\n", firstFrame);
  std::printf("one full-surface composition: %.3f ms (target < 5 ms)\n", compose);
  std::printf("one whole-window repaint with its controls: %.3f ms\n", repaint);
  return 0;
}
