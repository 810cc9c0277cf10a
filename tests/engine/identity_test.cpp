// The product's identity comes from [var]: product_name, main_program,
// product_folder and feedback_url. One table of scripts against every place
// the product is named: the windows' titles and texts, the questions, the
// default folder, the installed check and the feedback page. Keys that are
// missing, empty or unusable give the demo product's values.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "app/dialog_thread.h"
#include "app/headless_dialogs.h"
#include "app/install_flow.h"
#include "app/run.h"
#include "app/worker_threads.h"
#include "engine_test_support.h"
#include "manual_timers.h"
#include "script/execution_log.h"
#include "script/expansion.h"
#include "script/install_folder.h"
#include "script/product_identity.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::kFlowVars;
using test::ScopedRun;
using test::TempDir;

class WizardWindow final : public InstallWindow {
 public:
  void show(const InstallFace& shown) override { face = shown; }
  void showProgress(int, const std::string&) override {}
  void showBalloon(const std::string&, const std::string&) override {}
  Button ask(const Question& question) override {
    questions.push_back(question.id + ": " + question.caption + ": " + question.text);
    return Button::No;
  }
  InstallFace face;
  std::vector<std::string> questions;
};

// The questions of a silent uninstallation ("id: caption: text") and the
// lines that its sections recorded. With `removes`, the test's clock passes
// the pause before [uninstall] starts.
std::pair<std::vector<std::string>, std::vector<std::string>> uninstall(const TempDir& dir, const std::string& script,
                                                                        bool removes) {
  std::vector<std::string> questions;
  std::mutex mutex;
  {
    ScopedRun scoped(dir, false, script);
    HeadlessWindows windows([&](const Question& question) {
      std::lock_guard lock(mutex);
      questions.push_back(question.id + ": " + question.caption + ": " + question.text);
      return question.silentAnswer;
    });
    const FlowTimings timings = test::flowTimings();
    test::ManualTimers timers;
    lumo::Run run(windows, {.timings = timings, .silentWindows = &windows, .timers = &timers});
    std::thread driver;
    if (removes) {
      driver = std::thread([&] {
        EXPECT_TRUE(timers.waitForTimer(timings.uninstallStartPause) && timers.advance(timings.uninstallStartPause));
      });
    }
    run.runDialog();
    if (driver.joinable()) driver.join();
  }
  closeExecutionLog();
  return {questions, test::recordedLines()};
}

TEST(ProductIdentity, TheScriptsKeysNameTheProductWhereverItShows) {
  const std::string defaultFeedback =
      "http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=1.4.136.6";
  const struct {
    std::string what, vars;
    std::string name, folder, program, feedback;
  } cases[] = {
      {"keys absent: the demo product", "", "Vexta影音", "Vexta", "LumoClient.exe", defaultFeedback},
      {"keys empty: the same", "product_name=\nmain_program=\nproduct_folder=\nfeedback_url=\n", "Vexta影音", "Vexta",
       "LumoClient.exe", defaultFeedback},
      {"a product of its own",
       "product_name=Acme Notes\nmain_program=acme-notes\nproduct_folder=AcmeNotes\n"
       "feedback_url=http://acme.example/bye?v=@app_version\n",
       "Acme Notes", "AcmeNotes", "acme-notes", "http://acme.example/bye?v=1.4.136.6"},
      {"a folder or program that would weaken the rules keeps the default",
       "product_name=Acme\nproduct_folder=..\nmain_program=bin/acme\n", "Acme", "Vexta", "LumoClient.exe",
       defaultFeedback},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string vars = std::string(kFlowVars) + c.vars;
    {
      // The wizard: title, the texts' name, the default folder, the close question.
      ScopedRun run(dir, true, vars + "[install]\n#Record $INSTALL\n");
      runEnvironment().silent = false;
      DialogThread thread;
      test::ManualTimers timers;
      InstallFlow flow(thread, timers, test::flowTimings());
      WizardWindow window;
      flow.setWindow(window);
      flow.start();
      ASSERT_TRUE(test::turnUntil([&] { return flow.state().phase == InstallPhase::Options; }));
      EXPECT_EQ(window.face.title, c.name + "1.4.136.6安装程序");
      EXPECT_EQ(window.face.product, c.name);
      EXPECT_EQ(window.face.folder, dir / ("programs/" + c.folder));
      EXPECT_EQ(productFolderIn(dir / "Apps"), dir / ("Apps/" + c.folder));
      flow.deliver(Intent(Intent::CloseRequested));
      EXPECT_EQ(window.questions,
                std::vector<std::string>{"install.confirm-exit: 退出安装: 您确定要退出 " + c.name + " 安装程序吗？"});
      EXPECT_EQ(installerCaption(), c.name + "安装程序");
      std::string feedback = productIdentity().feedbackUrl;
      ASSERT_TRUE(Expand(feedback));
      EXPECT_EQ(feedback, c.feedback);
    }
    // The installed check: the recorded folder must hold the main program.
    const std::string installed = dir / ("opt/" + c.folder);
    std::filesystem::create_directories(installed);
    const std::string uninstallScript = vars + "installdir=" + installed +
                                        "\n[uninstall]\n#Record remove\n#Notify 卸载完成|100\n";
    auto [notInstalledQuestions, notInstalledLines] = uninstall(dir, uninstallScript, false);
    EXPECT_EQ(notInstalledQuestions, std::vector<std::string>{"uninstall.not-installed: " + c.name + "安装程序: " +
                                                              "您未安装或已经卸载了" + c.name + "！"});
    EXPECT_TRUE(notInstalledLines.empty());
    test::writeFile(installed + "/" + c.program, "");
    auto [questions, lines] = uninstall(dir, uninstallScript, true);
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(lines, std::vector<std::string>{"remove"});
  }
}

// The folder rule keys on product_folder: a run of another product refuses
// a folder that is not its own, and one of this product accepts it.
TEST(ProductIdentity, TheFolderRuleFollowsTheProductFolder) {
  TempDir dir;
  const struct {
    std::string folderKey, folder;
    bool accepted;
  } cases[] = {
      {"", "/srv/apps/Vexta", true},
      {"", "/srv/apps/AcmeNotes", false},
      {"AcmeNotes", "/srv/apps/AcmeNotes", true},
      {"AcmeNotes", "/srv/apps/acmenotes", true},  // any letter case, as for the default
      {"AcmeNotes", "/srv/apps/Vexta", false},
  };
  for (const auto& c : cases) {
    ScopedRun run(dir, true, std::string(kFlowVars) + "product_folder=" + c.folderKey + "\n");
    EXPECT_EQ(!whyNotInstallFolder(c.folder).has_value(), c.accepted) << c.folderKey << " " << c.folder;
  }
}

}  // namespace
}  // namespace lumo
