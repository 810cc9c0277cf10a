#include <gtest/gtest.h>

#include <QBuffer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <optional>

#include "app/install_flow.h"
#include "script/run_environment.h"
#include "app/worker_threads.h"
#include "engine/engine_test_support.h"
#include "script/execution_log.h"
#include "script/handler_registry.h"
#include "script/working_script.h"
#include "ui/install_wizard.h"
#include "ui/install_wizard_shell.h"
#include "ui/install_wizard_text.h"
#include "ui/message_boxes.h"
#include "ui/skin.h"
#include "ui_test_support.h"

namespace lumo::ui {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

constexpr const char* kSections =
    "[installinit]\n"
    "[install]\n#Notify 正在准备安装...|5\n#Record install $INSTALL|@autorun|@softcheck2\n#NotifyOK\n"
    "[installok]\n#Notify 安装完成|100\n#Notify 正在关闭|100\n"
    "[installfailed]\n#Notify 回滚完成|0\n";

// Solid skin images of the table's sizes; the three checked slots of the
// boxes and of the install button are present, so they can be checked.
void useSolidSkin() {
  setPngSource([](int id) -> std::optional<std::string> {
    QSize size(14, 14);
    if ((id >= 1025 && id <= 1027) || id == 1040 || id == 1041 || id == 1053 || id == 1056 || id == 1057) {
      size = QSize(200, 65);
    } else if (id == 1023 || id == 1024) {
      size = QSize(540, 161);
    }
    QImage image(size, QImage::Format_ARGB32);
    image.fill(qRgb(id % 256, (id * 7) % 256, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
  });
}

FlowTimings quick() {
  FlowTimings timings;
  timings.installInitWait = 3000ms;
  timings.closeTimer = 20ms;
  timings.workerExitWait = 3000ms;
  return timings;
}

// The wizard, noting the ids of the questions it is asked.
class RecordingWizard final : public CLumoInstallerDlg {
 public:
  using CLumoInstallerDlg::CLumoInstallerDlg;
  Button ask(const Question& question) override {
    asked.push_back(question.id);
    return CLumoInstallerDlg::ask(question);
  }
  std::vector<std::string> asked;
};

using WizardRun = test::WindowedRun<InstallFlow, RecordingWizard>;

// One wizard on the offscreen platform over a working script in a
// temporary folder; questions are answered by id.
class Wizard : public testing::Test {
 protected:
  CLumoInstallerDlg& open(const std::string& vars, bool silent = false) {
    useSolidSkin();
    // The test's own values come first: a variable's first line counts.
    std::string script(test::kFlowVars);
    script.insert(script.find('\n') + 1, vars + "\n");
    run_.emplace(dir_, true, script + kSections);
    runEnvironment().silent = silent;
    runEnvironment().targetFolder = target_;
    runEnvironment().interfaceFont = "微软雅黑";
    runEnvironment().fontScale = 10;
    wizard_.emplace(quick());
    wizard_->start();
    // The window shows once the init section is over.
    if (!silent) {
      EXPECT_TRUE(serveUntil([this] { return wizard_->window().isVisible(); }));
    }
    return wizard_->window();
  }
  void TearDown() override {
    wizard_.reset();
    for (const char* id : {"install.confirm-exit", "install.run-failed"}) messageBoxes().showAgain(id);
    setPngSource({});
    setFolderChooser({});
    run_.reset();
  }
  bool serveUntil(const std::function<bool()>& done) { return wizard_->waitFor(done); }
  bool ended() { return wizard_->ended(); }
  const std::vector<std::string>& asked() { return wizard_->window().asked; }
  std::string variable(const char* name) { return GetVariable(name); }

  TempDir dir_;
  std::optional<test::ScopedRun> run_;
  std::string target_;  // the folder of "--target"; empty: none
  std::optional<WizardRun> wizard_;
};

TEST(FolderRow, TheLabelTakesOnePointFourTimesTheTextUpToX490AndTheLinkFollowsFiveAfter) {
  runEnvironment().interfaceFont = "微软雅黑";
  const QString shortPath = QStringLiteral("/opt/Vexta");
  const int width = static_cast<int>(MeasureText(shortPath).width() * 1.4);
  ASSERT_GT(width, 20);
  const auto fitted = FitFolderLabel(shortPath, {150, 180});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->label, QRect(150, 180, width, 21));
  EXPECT_EQ(fitted->link, QPoint(150 + width + 5, 180));

  const auto capped = FitFolderLabel(QString(200, u'x'), {150, 180});
  ASSERT_TRUE(capped);
  EXPECT_EQ(capped->label.right() + 1, 490);
  EXPECT_EQ(capped->link, QPoint(495, 180));
  EXPECT_FALSE(FitFolderLabel(QString(), {150, 180}));
}

TEST(FolderRow, ALongTextIsCutAfterTheFirstCharacterThatPassesTheLimit) {
  const QString text = QStringLiteral("/home/someone/a rather long folder name/that goes on/and on/软件/Vexta");
  EXPECT_EQ(ShortenForDisplay(text, 1000), text);
  const QString shortened = ShortenForDisplay(text, 100);
  ASSERT_TRUE(shortened.endsWith(QStringLiteral("...")));
  const QString kept = shortened.chopped(3);
  EXPECT_TRUE(text.startsWith(kept));
  EXPECT_GT(MeasureText(kept).width(), 100);
  EXPECT_LE(MeasureText(kept.chopped(1)).width(), 100);
}

TEST(FolderRow, TheProductGetsAFolderOfItsOwnInTheChosenOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"/srv/apps", "/srv/apps/Vexta"}, {"/srv/apps/", "/srv/apps/Vexta"}, {"/", "/Vexta"}};
  for (const auto& [chosen, folder] : cases) EXPECT_EQ(productFolderIn(chosen), folder);
}

TEST_F(Wizard, TheOptionsFaceFollowsTheScriptsVariables) {
  std::filesystem::create_directories(dir_ / "old/vexta");
  const struct {
    std::string vars;
    std::string folder;
    bool newer, autorun;
    std::vector<int> offers;  // numbers of the boxes shown, left to right
  } cases[] = {
      {"installdir=", dir_ / "programs/Vexta", false, false, {}},
      {"installdir=" + dir_ / "old/vexta", dir_ / "programs/Vexta", false, false, {}},
      {"installdir=" + dir_ / "gone/Vexta\nautorun=1", dir_ / "programs/Vexta", false, true, {}},
      {"softcheck2=1\nsoftname2=看图王", dir_ / "programs/Vexta", false, false, {2}},
      {"softcheck1=1\nsoftname1=\nsoftcheck3=1\nsoftname3=压缩\nsoftcheck2=0\nsoftname2=x", dir_ / "programs/Vexta",
       false, false, {3}},
      {"app_version=3.0.1.1\nrealversion=3.0.1.2", dir_ / "programs/Vexta", true, false, {}},
      {"app_version=3.0.1.0\nrealversion=3.0.1", dir_ / "programs/Vexta", false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vars);
    TearDown();
    CLumoInstallerDlg& wizard = open(c.vars);
    EXPECT_EQ(wizard.folder().toStdString(), c.folder);
    EXPECT_EQ(wizard.label(CLumoInstallerDlg::kFolderId).text().toStdString(), c.folder);
    EXPECT_EQ(wizard.installButton().isVisible(), !c.newer);
    EXPECT_EQ(wizard.newerButton().isVisible(), c.newer);
    EXPECT_EQ(wizard.label(CLumoInstallerDlg::kContinueId).isVisible(), c.newer);
    EXPECT_EQ(wizard.runAfterBox().checkedFlag(), c.autorun);
    EXPECT_TRUE(wizard.agreementBox().checkedFlag());
    int x = 150;
    for (int number = 1; number <= 3; ++number) {
      CPngButton* box = wizard.offerBox(number);
      const bool offered = std::find(c.offers.begin(), c.offers.end(), number) != c.offers.end();
      ASSERT_EQ(box != nullptr, offered) << number;
      if (!box) continue;
      EXPECT_EQ(box->id(), 1012 + number);
      EXPECT_EQ(box->geometry(), QRect(x, 270, (static_cast<int>(box->caption().size()) + 1) * 15, 14));
      EXPECT_TRUE(box->checkedFlag());
      x += box->width() + 10;
      QTest::mouseClick(box, Qt::LeftButton);
      EXPECT_EQ(variable(("softcheck" + std::to_string(number)).c_str()), "0");
    }
  }
}

TEST_F(Wizard, TheOptionsFaceShowsTheFolderTheCommandLineChose) {
  std::filesystem::create_directories(dir_ / "old/Vexta");
  target_ = dir_ / "chosen/Vexta";
  // Over the earlier installation's folder, as the user's choice would be.
  CLumoInstallerDlg& wizard = open("installdir=" + dir_ / "old/Vexta");
  EXPECT_EQ(wizard.folder().toStdString(), target_);
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kFolderId).text().toStdString(), target_);
}

TEST_F(Wizard, ControlsSitAtTheirPlacesWithTheTitleAndTheHandOverTheLinks) {
  CLumoInstallerDlg& wizard = open("app_version=2.1");
  EXPECT_EQ(wizard.windowTitle().toStdString(), "Vexta影音2.1安装程序");
  EXPECT_EQ(wizard.installButton().geometry(), QRect(170, 298, 200, 65));
  EXPECT_EQ(wizard.newerButton().geometry(), QRect(170, 298, 200, 65));
  EXPECT_EQ(wizard.agreementBox().geometry(), QRect(55, 213, 100, 14));
  EXPECT_EQ(wizard.runAfterBox().geometry(), QRect(55, 241, 180, 14));
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kFolderCaptionId).pos(), QPoint(55, 180));
  const QRect folder = wizard.label(CLumoInstallerDlg::kFolderId).geometry();
  EXPECT_EQ(folder.topLeft(), QPoint(150, 180));
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kChangeFolderId).pos(), QPoint(folder.right() + 1 + 5, 180));
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kLicenseId).pos(), QPoint(152, 211));
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kLicenseId).cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kContinueId).cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kFolderCaptionId).cursor().shape(), Qt::ArrowCursor);
}

// The texts that name the product follow product_name (the images come
// from the product's theme).
TEST_F(Wizard, TheScriptsProductNameNamesTheProductInItsTexts) {
  CLumoInstallerDlg& wizard = open("product_name=Acme Notes");
  EXPECT_EQ(wizard.windowTitle().toStdString(), "Acme Notes1.4.136.6安装程序");
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kLicenseId).text().toStdString(), "《Acme Notes软件用户使用协议》");
  EXPECT_EQ(wizard.runAfterBox().caption().toStdString(), "安装成功后运行 Acme Notes");
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kInstalledId).text().toStdString(), "Acme Notes已成功安装");
  QTest::mouseClick(&wizard.agreementBox(), Qt::LeftButton);
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kLicenseId).text().toStdString(), "《Acme Notes软件用户使用协议》!");
}

TEST_F(Wizard, TheAgreementBoxGatesTheInstallButton) {
  CLumoInstallerDlg& wizard = open("app_version=3.0.1.1\nrealversion=3.0.1.2");
  CColorLabel& license = wizard.label(CLumoInstallerDlg::kLicenseId);
  QTest::mouseClick(&wizard.agreementBox(), Qt::LeftButton);
  EXPECT_FALSE(wizard.agreementBox().checkedFlag());
  EXPECT_FALSE(wizard.installButton().isEnabled());
  EXPECT_EQ(wizard.installButton().chosenSlot(), CPngButton::Disabled);
  EXPECT_FALSE(wizard.label(CLumoInstallerDlg::kContinueId).isVisible());
  EXPECT_EQ(license.text().toStdString(), "《Vexta影音软件用户使用协议》!");
  EXPECT_EQ(license.textColour(), QColor(255, 0, 0));
  const QImage box = wizard.agreementBox().grab().toImage();
  bool red = false;
  for (int x = 14; x < box.width(); ++x) red = red || box.pixel(x, 7) == qRgb(255, 0, 0);
  EXPECT_TRUE(red) << "the caption turns red";

  QTest::mouseClick(&wizard.agreementBox(), Qt::LeftButton);
  EXPECT_TRUE(wizard.installButton().isEnabled());
  EXPECT_TRUE(wizard.label(CLumoInstallerDlg::kContinueId).isVisible());
  EXPECT_EQ(license.text().toStdString(), "《Vexta影音软件用户使用协议》");
  EXPECT_TRUE(license.isActive());
}

TEST_F(Wizard, TheChosenFolderGetsTheProductFolderAndALongOneIsCappedAtX490) {
  CLumoInstallerDlg& wizard = open("");
  CColorLabel& link = wizard.label(CLumoInstallerDlg::kChangeFolderId);
  const std::string longFolder = "/srv/" + std::string(120, 'd');
  const struct {
    QString chosen;
    std::string folder;
  } cases[] = {{QStringLiteral("/"), "/Vexta"},
               {QString(), "/Vexta"},  // cancelled: nothing changes
               {QString::fromStdString(longFolder), longFolder + "/Vexta"}};
  for (const auto& c : cases) {
    setFolderChooser([&](QWidget* owner) {
      EXPECT_EQ(owner, &wizard);
      return c.chosen;
    });
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(wizard.folder().toStdString(), c.folder);
  }
  EXPECT_EQ(wizard.label(CLumoInstallerDlg::kFolderId).geometry().right() + 1, 490);
  EXPECT_EQ(link.pos(), QPoint(495, 180));
  EXPECT_TRUE(wizard.label(CLumoInstallerDlg::kFolderId).text().endsWith(QStringLiteral("...")));
}

// Each way of ending a run, driven through the window, with the report it
// sends and whether the exit question was asked.
TEST_F(Wizard, EveryWayOfEndingSendsItsOneReport) {
  enum Ending { ConfirmNo, ConfirmYes, CloseInFinished, Autorun, RunProduct, Newer };
  const struct {
    Ending ending;
    std::vector<std::string> reports;
    std::vector<std::string> asked;
  } cases[] = {
      {ConfirmNo, {}, {"install.confirm-exit"}},
      {ConfirmYes, {"install|canceled||"}, {"install.confirm-exit"}},
      {CloseInFinished, {"install|complete||+setuprun=0"}, {}},
      {Autorun, {"install|complete||+setuprun=1"}, {}},
      {RunProduct, {"install|complete||+setuprun=2"}, {}},
      {Newer, {"install|canceled||"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ending);
    TearDown();
    messageBoxes().answerWithoutShowing("install.confirm-exit", c.ending == ConfirmYes ? Button::Yes : Button::No);
    std::string vars = c.ending == Autorun ? "autorun=1" : "";
    if (c.ending == Newer) vars = "app_version=3.0.1.1\nrealversion=3.0.1.2\ninstalldir=" + dir_ / "old/Vexta";
    if (c.ending == RunProduct) {
      test::writeFile(dir_ / "programs/Vexta/LumoClient.exe", "#!/bin/sh\nexit 0\n");
      std::filesystem::permissions(dir_ / "programs/Vexta/LumoClient.exe", std::filesystem::perms::owner_all);
    }
    CLumoInstallerDlg& wizard = open(vars);
    if (c.ending == ConfirmNo || c.ending == ConfirmYes) {
      wizard.close();
      EXPECT_EQ(wizard.isVisible(), c.ending == ConfirmNo);
    } else if (c.ending == Newer) {
      QTest::mouseClick(&wizard.newerButton(), Qt::LeftButton);
    } else {
      QTest::mouseClick(&wizard.installButton(), Qt::LeftButton);
      EXPECT_TRUE(wizard.progressBar().isVisible());
      EXPECT_FALSE(wizard.closeButton().isEnabled());
      EXPECT_FALSE(wizard.agreementBox().isVisible());
      wizard.close();  // ignored while installing
      EXPECT_TRUE(asked().empty());
      if (c.ending == Autorun) {
        EXPECT_TRUE(serveUntil([&] { return wizard.isHidden(); }));
      } else {
        ASSERT_TRUE(serveUntil([&] { return wizard.label(CLumoInstallerDlg::kInstalledId).isVisible(); }));
        EXPECT_FALSE(wizard.statusLabel().isVisible());
        EXPECT_TRUE(wizard.closeButton().isEnabled());
        EXPECT_EQ(wizard.installButton().chosenSlot(), CPngButton::Checked);
        if (c.ending == RunProduct) {
          QTest::mouseClick(&wizard.installButton(), Qt::LeftButton);
        } else {
          wizard.close();
        }
        EXPECT_TRUE(wizard.isHidden());
      }
    }
    if (c.ending != ConfirmNo) {
      EXPECT_TRUE(serveUntil([&] { return ended(); }));
    }
    waitForWorkers(3000ms);
    EXPECT_EQ(test::sentReports(), c.reports);
    EXPECT_EQ(asked(), c.asked);
  }
}

TEST_F(Wizard, TheWindowKeepsAnsweringWhileAReportIsSent) {
  CLumoInstallerDlg& wizard = open("");
  static std::atomic<bool> release;
  release = false;
  registerHandler("SendLog", [](const CommandContext&, const CommandArguments&) {
    while (!release) std::this_thread::sleep_for(1ms);
  });
  messageBoxes().answerWithoutShowing("install.confirm-exit", Button::Yes);
  wizard.close();
  EXPECT_FALSE(wizard.isVisible());
  bool answered = false;
  QTimer::singleShot(0, [&] {
    answered = true;
    wizard.close();  // a second request during the report is the same ending
  });
  EXPECT_TRUE(serveUntil([&] { return answered; }));
  EXPECT_FALSE(ended()) << "the run waits for its report";
  release = true;
  EXPECT_TRUE(serveUntil([&] { return ended(); }));
  EXPECT_EQ(asked(), std::vector<std::string>{"install.confirm-exit"});
}

TEST_F(Wizard, TheChoicesReachTheInstallSection) {
  CLumoInstallerDlg& wizard = open("softcheck2=1\nsoftname2=看图王");
  QTest::mouseClick(&wizard.runAfterBox(), Qt::LeftButton);
  QTest::mouseClick(wizard.offerBox(2), Qt::LeftButton);
  setFolderChooser([&](QWidget*) { return QString::fromStdString(dir_ / "apps"); });
  QTest::mouseClick(&wizard.label(CLumoInstallerDlg::kChangeFolderId), Qt::LeftButton);
  QTest::mouseClick(&wizard.installButton(), Qt::LeftButton);
  EXPECT_TRUE(serveUntil([&] { return wizard.isHidden(); })) << "autorun hides the finished wizard";
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"install " + dir_ / "apps/Vexta" + "|1|0"});
}

TEST_F(Wizard, ASilentRunInstallsWithoutShowingTheWizard) {
  CLumoInstallerDlg& wizard = open("", true);
  EXPECT_TRUE(serveUntil([&] { return ended(); }));
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"install " + dir_ / "programs/Vexta" + "||"});
}

}  // namespace
}  // namespace lumo::ui
