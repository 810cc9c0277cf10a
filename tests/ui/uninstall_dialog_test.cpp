#include <gtest/gtest.h>

#include <QAccessible>
#include <QScreen>
#include <QTest>
#include <mutex>
#include <optional>

#include "../engine/engine_test_support.h"
#include "app/exit_status.h"
#include "app/uninstall_flow.h"
#include "app/worker_threads.h"
#include "script/handler_registry.h"
#include "script/working_script.h"
#include "ui/uninstall_dialog.h"
#include "ui_test_support.h"

namespace lumo::ui {
namespace {

using namespace std::chrono_literals;
using test::TestSkin;

constexpr const char* kFeedback =
    "http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=1.4.136.6|ie";
// As the default script does, the section deletes the working script after
// it has reported the removal.
constexpr const char* kRemoves = "[uninstall]\n#Record remove @rmuserdata\n#Notify 卸载完成|100\n#Delete $INIPATH\n";
// Held until the test lets it go on, so the window system can ask to close
// during it.
constexpr const char* kRemovesSlowly =
    "[uninstall]\n#Record remove @rmuserdata\n#Hold removing\n#Notify 卸载完成|100\n#Delete $INIPATH\n";
// Ends without the text of msg_removed: the removal never completes.
constexpr const char* kNeverDone = "[uninstall]\n#Record remove @rmuserdata\n#Notify 卸载中|100\n";

std::mutex openedMutex;
std::vector<std::string> opened;

void OpenUrlRecorder(const CommandContext&, const CommandArguments& arguments) {
  std::lock_guard lock(openedMutex);
  opened.push_back(arguments.text);
}

std::vector<std::string> openedPages() {
  std::lock_guard lock(openedMutex);
  return opened;
}

// The dialog, noting the questions it is asked and answering them silently.
class RecordingDialog final : public CDlgUnInstall {
 public:
  using CDlgUnInstall::CDlgUnInstall;
  Button ask(const Question& question) override {
    questions.push_back(question.id + ": " + question.text);
    return question.silentAnswer;
  }
  std::vector<std::string> questions;
};

// One windowed uninstallation, in process: the dialog once [uninstallinit]
// and the installed check are over, shown unless the run has ended.
class Uninstallation {
 public:
  explicit Uninstallation(const std::string& sections, bool installed = true)
      : run_(dir_, false, std::string(test::kFlowVars) + "rmuserdata=unset\ninstalldir=" + dir_ / "opt/Vexta" + "\n" +
                              sections) {
    if (installed) test::writeFile(dir_ / "opt/Vexta/LumoClient.exe", "");
    std::filesystem::create_directories(dir_ / "opt/Vexta");
    runEnvironment().silent = false;
    registerHandler("OpenUrl", OpenUrlRecorder);
    opened.clear();
    windowed_.emplace(test::flowTimings());
    windowed_->start();
    EXPECT_TRUE(serveUntil([this] { return dialog().isVisible() || ended(); }));
  }
  ~Uninstallation() { windowed_.reset(); }

  RecordingDialog& dialog() { return windowed_->window(); }
  UninstallFlow& flow() { return windowed_->flow(); }
  test::ManualTimers& timers() { return windowed_->timers(); }
  bool ended() const { return windowed_->ended(); }
  const std::vector<std::string>& questions() { return dialog().questions; }
  // Lets the event loop turn until `done` holds, at most `limit`.
  bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
    return windowed_->waitFor(done, limit);
  }
  // [uninstall] starts once the pause after the uninstall button has passed
  // on the run's clock.
  void passPause() { windowed_->timers().advance(flow().timings().uninstallStartPause); }
  bool removed() {
    passPause();
    return serveUntil([this] { return !dialog().okButton().isHidden(); });
  }
  void click(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton); }

 private:
  test::TempDir dir_;
  test::ScopedRun run_;
  std::optional<test::WindowedRun<UninstallFlow, RecordingDialog>> windowed_;
};

TEST(CDlgUnInstall, EachFaceShowsItsControlsInTheirPlaces) {
  TestSkin skin;
  Uninstallation run(kRemoves);
  CDlgUnInstall& dialog = run.dialog();
  struct Control {
    const char* name;
    QWidget* widget;
    QPoint place;
    bool confirm, removing, removed;
  };
  const Control controls[] = {
      {"question", &dialog.questionLabel(), {74, 192}, true, false, false},
      {"clear-user-data box", &dialog.clearUserDataBox(), {74, 221}, true, false, false},
      {"uninstall", &dialog.uninstallButton(), {292, 311}, true, false, false},
      {"cancel", &dialog.cancelButton(), {409, 311}, true, false, false},
      {"progress bar", &dialog.progressBar(), {50, 230}, false, true, false},
      {"status", &dialog.statusLabel(), {135, 205}, false, true, false},
      {"success", &dialog.removedLabel(), {155, 241}, false, false, true},
      {"OK", &dialog.okButton(), {214, 297}, false, false, true},
  };
  auto expectFace = [&](const char* face, bool Control::*shown, bool closeEnabled) {
    for (const Control& control : controls) {
      EXPECT_EQ(!control.widget->isHidden(), control.*shown) << control.name << " on the " << face << " face";
      EXPECT_EQ(control.widget->pos(), control.place) << control.name;
    }
    EXPECT_EQ(dialog.closeButton().isEnabled(), closeEnabled) << face;
  };

  expectFace("confirm", &Control::confirm, true);
  EXPECT_FALSE(dialog.clearUserDataBox().checkedFlag());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Vexta影音1.4.136.6卸载程序");
  EXPECT_EQ(dialog.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());

  run.click(dialog.uninstallButton());
  expectFace("removing", &Control::removing, false);
  EXPECT_EQ(dialog.statusLabel().text().toStdString(), "正在为您卸载Vexta影音，请稍候");

  ASSERT_TRUE(run.removed());
  expectFace("removed", &Control::removed, true);
  EXPECT_EQ(dialog.removedLabel().text().toStdString(), "Vexta影音已成功从您的计算机中卸载。");
}

TEST(CDlgUnInstall, TheScriptsProductNameNamesTheProductInItsTexts) {
  Uninstallation uninstallation("product_name=Acme Notes\n[uninstall]\n#Notify 卸载完成|100\n");
  ASSERT_TRUE(uninstallation.dialog().isVisible());
  EXPECT_EQ(uninstallation.dialog().windowTitle().toStdString(), "Acme Notes1.4.136.6卸载程序");
  EXPECT_EQ(uninstallation.dialog().questionLabel().text().toStdString(), "您确认要卸载 Acme Notes 及其全部组件吗？");
  EXPECT_EQ(uninstallation.dialog().removedLabel().text().toStdString(), "Acme Notes已成功从您的计算机中卸载。");
}

TEST(CDlgUnInstall, TheBoxDecidesRmuserdataOnlyWhenTheRemovalStarts) {
  struct Case {
    int clicks;
    std::initializer_list<int> missingImages;
    const char* rmuserdata;
  };
  for (const Case& c : {Case{0, {}, "0"}, Case{1, {}, "1"}, Case{2, {}, "0"}, Case{1, {1043}, "0"}}) {
    TestSkin skin(c.missingImages);
    Uninstallation run(kRemoves);
    for (int i = 0; i < c.clicks; ++i) run.click(run.dialog().clearUserDataBox());
    EXPECT_EQ(GetVariable("rmuserdata"), "unset") << "toggling the box writes nothing";
    run.click(run.dialog().uninstallButton());
    ASSERT_TRUE(run.removed());
    EXPECT_EQ(test::recordedLines(), std::vector<std::string>{std::string("remove ") + c.rmuserdata})
        << c.clicks << " clicks";
  }
}

TEST(CDlgUnInstall, ClosingBeforeTheRemovalReportsWhichWayItWasClosed) {
  struct Case {
    const char* how;
    std::function<void(Uninstallation&)> close;
    const char* report;
  };
  const Case cases[] = {
      {"cancel button", [](Uninstallation& run) { run.click(run.dialog().cancelButton()); },
       "uninstall|canceled||+sysbtn=0"},
      {"close button", [](Uninstallation& run) { run.click(run.dialog().closeButton()); },
       "uninstall|canceled||+sysbtn=1"},
      {"system", [](Uninstallation& run) { run.dialog().close(); }, "uninstall|canceled||+sysbtn=1"},
  };
  for (const Case& c : cases) {
    TestSkin skin;
    Uninstallation run(kRemoves);
    c.close(run);
    EXPECT_TRUE(run.serveUntil([&] { return run.ended(); })) << c.how;
    EXPECT_FALSE(run.dialog().isVisible()) << c.how;
    EXPECT_EQ(test::sentReports(), std::vector<std::string>{c.report}) << c.how;
    EXPECT_TRUE(test::recordedLines().empty()) << c.how << ": nothing was removed";
    EXPECT_TRUE(openedPages().empty()) << c.how;
    EXPECT_EQ(run.flow().exitStatus(), kExitOk) << c.how;
  }
}

TEST(CDlgUnInstall, AfterTheRemovalOkAndCloseOpenTheFeedbackPageOnce) {
  struct Case {
    const char* how;
    std::function<void(Uninstallation&)> close;
  };
  const Case cases[] = {
      {"OK button, pressed twice",
       [](Uninstallation& run) {
         run.click(run.dialog().okButton());
         run.click(run.dialog().okButton());
       }},
      {"close button", [](Uninstallation& run) { run.click(run.dialog().closeButton()); }},
      {"system", [](Uninstallation& run) { run.dialog().close(); }},
  };
  for (const Case& c : cases) {
    TestSkin skin;
    Uninstallation run(kRemoves);
    run.click(run.dialog().uninstallButton());
    ASSERT_TRUE(run.removed()) << c.how;
    ASSERT_TRUE(run.serveUntil([] { return runningWorkers() == 0; })) << "the working script is gone";
    c.close(run);
    EXPECT_TRUE(run.serveUntil([&] { return run.ended(); })) << c.how;
    EXPECT_EQ(openedPages(), std::vector<std::string>{kFeedback}) << c.how;
    EXPECT_TRUE(test::sentReports().empty()) << c.how;
    EXPECT_EQ(run.flow().exitStatus(), kExitOk) << c.how;
  }
}

TEST(CDlgUnInstall, ARemovalThatNeverCompletesEndsOnlyByASystemClose) {
  TestSkin skin;
  Uninstallation run(kNeverDone);
  run.click(run.dialog().clearUserDataBox());
  run.click(run.dialog().uninstallButton());
  run.passPause();
  ASSERT_TRUE(run.serveUntil([] { return test::recordedLines().size() == 1 && runningWorkers() == 0; }));
  run.click(run.dialog().closeButton());  // disabled
  // What the ended section sent has been handled, and no delay ends it.
  QCoreApplication::processEvents();
  run.timers().advance(std::chrono::minutes(1));
  EXPECT_FALSE(run.ended()) << "still removing";
  EXPECT_FALSE(run.dialog().progressBar().isHidden());
  EXPECT_TRUE(run.dialog().okButton().isHidden());

  run.dialog().close();
  EXPECT_TRUE(run.serveUntil([&] { return run.ended(); }));
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"remove 1"});
  EXPECT_EQ(test::sentReports(), std::vector<std::string>{"uninstall|canceled||+sysbtn=1"});
  EXPECT_TRUE(openedPages().empty());
  EXPECT_EQ(run.flow().exitStatus(), kExitIncomplete);
}

TEST(CDlgUnInstall, AFolderWithoutTheProgramEndsTheDialogBeforeItShows) {
  TestSkin skin;
  Uninstallation run(kRemoves, false);
  EXPECT_TRUE(run.ended());
  EXPECT_FALSE(run.dialog().isVisible());
  EXPECT_EQ(run.questions(), std::vector<std::string>{"uninstall.not-installed: 您未安装或已经卸载了Vexta影音！"});
  EXPECT_TRUE(test::recordedLines().empty());
  EXPECT_TRUE(test::sentReports().empty());
}

// A key as a person presses it: to the control with the focus, or to the
// window where none has it.
void press(QWidget& window, int key) {
  QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, static_cast<Qt::Key>(key));
}

TEST(CDlgUnInstall, ReturnUninstallsAndReturnAgainEndsWithTheFeedbackPage) {
  TestSkin skin;
  Uninstallation run(kRemoves);
  CDlgUnInstall& dialog = run.dialog();
  EXPECT_EQ(dialog.focusWidget(), &dialog.uninstallButton()) << "the confirm face starts on its main button";
  press(dialog, Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), &dialog.cancelButton());
  press(dialog, Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), &dialog.clearUserDataBox());
  press(dialog, Qt::Key_Space);
  EXPECT_TRUE(dialog.clearUserDataBox().checkedFlag());
  press(dialog, Qt::Key_Return);
  ASSERT_TRUE(run.removed());
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"remove 1"});
  EXPECT_EQ(dialog.focusWidget(), &dialog.okButton()) << "the removed face starts on OK";
  ASSERT_TRUE(run.serveUntil([] { return runningWorkers() == 0; }));
  press(dialog, Qt::Key_Return);
  EXPECT_TRUE(run.serveUntil([&] { return run.ended(); }));
  EXPECT_EQ(openedPages(), std::vector<std::string>{kFeedback});
  EXPECT_EQ(run.flow().exitStatus(), kExitOk);
}

TEST(CDlgUnInstall, EscIsTheCloseButtonAndDoesNothingWhileRemoving) {
  TestSkin skin;
  {
    Uninstallation run(kRemoves);
    press(run.dialog(), Qt::Key_Escape);
    EXPECT_TRUE(run.serveUntil([&] { return run.ended(); }));
    EXPECT_EQ(test::sentReports(), std::vector<std::string>{"uninstall|canceled||+sysbtn=1"});
    EXPECT_TRUE(test::recordedLines().empty());
  }
  Uninstallation run(kRemovesSlowly);
  press(run.dialog(), Qt::Key_Return);
  run.passPause();
  ASSERT_TRUE(test::waitUntilHeld("removing"));
  press(run.dialog(), Qt::Key_Escape);
  EXPECT_TRUE(run.dialog().isVisible());
  test::letGo("removing");
  ASSERT_TRUE(run.removed());
  press(run.dialog(), Qt::Key_Escape);
  EXPECT_TRUE(run.serveUntil([&] { return run.ended(); }));
  EXPECT_EQ(openedPages(), std::vector<std::string>{kFeedback});
}

// Closing through the window system while the removal runs would leave the
// product half removed: it waits, as the install wizard's does.
TEST(CDlgUnInstall, TheWindowSystemCannotCloseTheDialogWhileItRemoves) {
  TestSkin skin;
  Uninstallation run(kRemovesSlowly);
  run.click(run.dialog().uninstallButton());
  run.passPause();
  ASSERT_TRUE(test::waitUntilHeld("removing"));
  run.dialog().close();
  EXPECT_TRUE(run.dialog().isVisible());
  EXPECT_FALSE(run.ended());
  test::letGo("removing");
  ASSERT_TRUE(run.removed()) << "the removal went on to its end";
  EXPECT_TRUE(test::sentReports().empty());
  run.click(run.dialog().okButton());
  EXPECT_TRUE(run.serveUntil([&] { return run.ended(); }));
  EXPECT_EQ(run.flow().exitStatus(), kExitOk);
}

TEST(CDlgUnInstall, AScreenReaderFindsTheButtonsByTheirCaptions) {
  TestSkin skin;
  Uninstallation run(kRemoves);
  CDlgUnInstall& dialog = run.dialog();
  const std::pair<QWidget*, const char*> named[] = {
      {&dialog.uninstallButton(), "卸载"}, {&dialog.cancelButton(), "取消"}, {&dialog.okButton(), "完成"},
      {&dialog.clearUserDataBox(), "同时清除 您的使用设置、最近观看记录、本地播放缓存"},
      {&dialog.questionLabel(), "您确认要卸载 Vexta影音 及其全部组件吗？"}};
  for (const auto& [control, name] : named) {
    QAccessibleInterface* described = QAccessible::queryAccessibleInterface(control);
    ASSERT_NE(described, nullptr);
    EXPECT_EQ(described->text(QAccessible::Name).toStdString(), name);
  }
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(&dialog.clearUserDataBox());
  EXPECT_EQ(box->role(), QAccessible::CheckBox);
  EXPECT_FALSE(box->state().checked);
  box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_TRUE(box->state().checked) << "a reader's toggle is a click";
}

}  // namespace
}  // namespace lumo::ui
