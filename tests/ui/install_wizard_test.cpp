#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QBuffer>
#include <QFontMetrics>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
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
    wizard_.emplace(test::flowTimings());
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

std::mutex pagesMutex;
std::vector<std::string> pages;

void RecordPage(const CommandContext&, const CommandArguments& arguments) {
  std::lock_guard lock(pagesMutex);
  pages.push_back(arguments.text);
}

std::size_t pagesOpened() {
  std::lock_guard lock(pagesMutex);
  return pages.size();
}

// A key as a person presses it: to the control with the focus, or to the
// window where none has it.
void press(QWidget& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
  QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

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
  EXPECT_TRUE(wizard.label(CLumoInstallerDlg::kFolderId).text().endsWith(QStringLiteral("…")));
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
    // A hidden wizard ends with the close timer's next tick.
    if (c.ending == CloseInFinished || c.ending == Autorun || c.ending == RunProduct) {
      EXPECT_TRUE(wizard_->passCloseDelay());
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

TEST_F(Wizard, TheHiddenWizardEndsWhenTheCloseDelayAfterTheClosingTextHasPassed) {
  CLumoInstallerDlg& wizard = open("autorun=1");
  QTest::mouseClick(&wizard.installButton(), Qt::LeftButton);
  ASSERT_TRUE(serveUntil([&] { return wizard.isHidden(); }));
  const std::chrono::milliseconds delay = test::flowTimings().closeTimer;
  ASSERT_TRUE(serveUntil([&] { return wizard_->timers().running(delay) > 0; })) << "the closing text starts it";
  wizard_->timers().advance(delay - 1ms);
  EXPECT_EQ(wizard_->flow().state().phase, InstallPhase::Hidden);
  wizard_->timers().advance(1ms);
  EXPECT_NE(wizard_->flow().state().phase, InstallPhase::Hidden) << "the run ends";
  EXPECT_TRUE(serveUntil([&] { return ended(); }));
}

TEST_F(Wizard, ASilentRunInstallsWithoutShowingTheWizard) {
  CLumoInstallerDlg& wizard = open("", true);
  EXPECT_TRUE(serveUntil([&] { return ended(); }));
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"install " + dir_ / "programs/Vexta" + "||"});
}

TEST_F(Wizard, AnEarlierOrAChosenFolderTooLongForItsLabelEndsWithAnEllipsis) {
  const std::string deep = dir_ / (std::string(60, 'e') + "/" + std::string(60, 'f') + "/Vexta");
  std::filesystem::create_directories(deep);
  const struct {
    const char* name;
    std::string vars;
    QString chosen;  // empty: keep the folder the face offers
    bool cut;
  } cases[] = {
      {"a short earlier folder", "installdir=" + dir_ / "old/Vexta", {}, false},
      {"a long earlier folder", "installdir=" + deep, {}, true},
      {"a long chosen folder", "", QString::fromStdString(dir_ / std::string(120, 'c')), true},
  };
  std::filesystem::create_directories(dir_ / "old/Vexta");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    CLumoInstallerDlg& wizard = open(c.vars);
    if (!c.chosen.isEmpty()) {
      setFolderChooser([&](QWidget*) { return c.chosen; });
      QTest::mouseClick(&wizard.label(CLumoInstallerDlg::kChangeFolderId), Qt::LeftButton);
    }
    const CColorLabel& label = wizard.label(CLumoInstallerDlg::kFolderId);
    const QString shown = label.text();
    EXPECT_LE(QFontMetrics(label.font()).horizontalAdvance(shown), label.width()) << "nothing is cut mid-glyph";
    EXPECT_EQ(shown.endsWith(QChar(0x2026)), c.cut) << shown.toStdString();
    if (c.cut) {
      EXPECT_TRUE(wizard.folder().startsWith(shown.chopped(1)));
    } else {
      EXPECT_EQ(shown, wizard.folder());
    }
  }
}

// Tab and Shift+Tab go round the face's visible controls in reading order,
// starting from the main button.
TEST_F(Wizard, TabGoesRoundTheFacesControlsInReadingOrder) {
  const struct {
    const char* face;
    std::string vars;
    std::vector<const char*> order;  // from the main button on
  } cases[] = {
      {"options", "", {"install", "change", "agreement", "license", "run after"}},
      {"options with offers", "softcheck1=1\nsoftname1=Gypsy\nsoftcheck3=1\nsoftname3=压缩",
       {"install", "change", "agreement", "license", "run after", "offer 1", "offer 3"}},
      {"newer version", "app_version=3.0.1.1\nrealversion=3.0.1.2",
       {"newer", "continue", "change", "agreement", "license", "run after"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face);
    TearDown();
    CLumoInstallerDlg& wizard = open(c.vars);
    const std::map<std::string, QWidget*> controls = {
        {"install", &wizard.installButton()},
        {"newer", &wizard.newerButton()},
        {"change", &wizard.label(CLumoInstallerDlg::kChangeFolderId)},
        {"agreement", &wizard.agreementBox()},
        {"license", &wizard.label(CLumoInstallerDlg::kLicenseId)},
        {"run after", &wizard.runAfterBox()},
        {"continue", &wizard.label(CLumoInstallerDlg::kContinueId)},
        {"offer 1", wizard.offerBox(1)},
        {"offer 3", wizard.offerBox(3)},
    };
    const auto nameOf = [&](QWidget* widget) {
      for (const auto& [name, control] : controls)
        if (control == widget) return name;
      return std::string(widget ? widget->metaObject()->className() : "nothing");
    };
    std::vector<std::string> forward, backward;
    for (std::size_t i = 0; i < c.order.size(); ++i) {
      forward.push_back(nameOf(wizard.focusWidget()));
      press(wizard, Qt::Key_Tab);
    }
    EXPECT_EQ(nameOf(wizard.focusWidget()), c.order.front()) << "round again";
    for (std::size_t i = 0; i < c.order.size(); ++i) {
      backward.insert(backward.begin(), nameOf(wizard.focusWidget()));
      press(wizard, Qt::Key_Backtab);
    }
    std::rotate(backward.begin(), backward.end() - 1, backward.end());
    EXPECT_EQ(forward, std::vector<std::string>(c.order.begin(), c.order.end()));
    EXPECT_EQ(backward, forward);
  }
}

// Return presses the install button wherever the focus is, except on a
// link, which it opens; a box takes Space.
TEST_F(Wizard, ReturnInstallsFromAnyControlAndSpaceTogglesTheFocusedBox) {
  registerHandler("OpenUrl", RecordPage);
  CLumoInstallerDlg& wizard = open("softcheck2=1\nsoftname2=看图王");
  EXPECT_EQ(wizard.focusWidget(), &wizard.installButton());

  while (wizard.focusWidget() != &wizard.label(CLumoInstallerDlg::kLicenseId)) press(wizard, Qt::Key_Tab);
  press(wizard, Qt::Key_Return);
  EXPECT_TRUE(serveUntil([] { return pagesOpened() == 1; })) << "Return opens the focused link";
  EXPECT_FALSE(wizard.progressBar().isVisible());

  press(wizard, Qt::Key_Backtab);
  ASSERT_EQ(wizard.focusWidget(), &wizard.agreementBox());
  press(wizard, Qt::Key_Space);
  EXPECT_FALSE(wizard.agreementBox().checkedFlag());
  press(wizard, Qt::Key_Return);
  EXPECT_FALSE(wizard.progressBar().isVisible()) << "the install button is disabled";
  press(wizard, Qt::Key_Space);
  EXPECT_TRUE(wizard.agreementBox().checkedFlag());

  press(wizard, Qt::Key_Tab);
  press(wizard, Qt::Key_Tab);
  ASSERT_EQ(wizard.focusWidget(), &wizard.runAfterBox());
  press(wizard, Qt::Key_Space);
  EXPECT_TRUE(wizard.runAfterBox().checkedFlag());
  press(wizard, Qt::Key_Tab);
  ASSERT_EQ(wizard.focusWidget(), wizard.offerBox(2));
  press(wizard, Qt::Key_Space);
  EXPECT_EQ(variable("softcheck2"), "0");

  press(wizard, Qt::Key_Return);
  EXPECT_TRUE(wizard.progressBar().isVisible());
  EXPECT_TRUE(serveUntil([&] { return wizard.isHidden(); })) << "run after install hides the finished wizard";
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"install " + dir_ / "programs/Vexta" + "|1|0"});
}

// Esc is the close button: the question on the options face, nothing while
// installing, hiding the finished face.
TEST_F(Wizard, EscDoesWhatTheCloseButtonDoes) {
  messageBoxes().answerWithoutShowing("install.confirm-exit", Button::No);
  CLumoInstallerDlg& wizard = open("");
  press(wizard, Qt::Key_Escape);
  EXPECT_EQ(asked(), std::vector<std::string>{"install.confirm-exit"});
  EXPECT_TRUE(wizard.isVisible());

  press(wizard, Qt::Key_Return);
  ASSERT_TRUE(wizard.progressBar().isVisible());
  press(wizard, Qt::Key_Escape);
  EXPECT_EQ(asked().size(), 1u) << "closing is ignored while installing";
  EXPECT_TRUE(wizard.isVisible());

  ASSERT_TRUE(serveUntil([&] { return wizard.label(CLumoInstallerDlg::kInstalledId).isVisible(); }));
  EXPECT_EQ(wizard.focusWidget(), &wizard.installButton()) << "the finished face starts on its main button";
  press(wizard, Qt::Key_Escape);
  EXPECT_TRUE(wizard.isHidden());
  EXPECT_TRUE(wizard_->passCloseDelay());
  EXPECT_TRUE(serveUntil([&] { return ended(); }));
  waitForWorkers(3000ms);
  EXPECT_EQ(test::sentReports(), std::vector<std::string>{"install|complete||+setuprun=0"});
}

TEST_F(Wizard, TheFocusRingShowsOnlyOnceTheKeyboardMovedTheFocus) {
  CLumoInstallerDlg& wizard = open("");
  const auto ringOn = [](QWidget& widget) {
    const QImage image = widget.grab().toImage();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) == kFocusRingColour) return true;
    return false;
  };
  EXPECT_FALSE(ringOn(wizard.installButton())) << "a mouse user sees the window as drawn";
  press(wizard, Qt::Key_Tab);
  EXPECT_TRUE(ringOn(wizard.label(CLumoInstallerDlg::kChangeFolderId)));
  press(wizard, Qt::Key_Tab);
  EXPECT_TRUE(ringOn(wizard.agreementBox()));
  EXPECT_FALSE(ringOn(wizard.label(CLumoInstallerDlg::kChangeFolderId)));
  press(wizard, Qt::Key_Backtab);
  press(wizard, Qt::Key_Backtab);
  EXPECT_TRUE(ringOn(wizard.installButton()));
}

// What a screen reader finds on each face: every control named, with its
// role and state.
TEST_F(Wizard, AScreenReaderFindsEveryControlNamedWithItsRoleAndState) {
  CLumoInstallerDlg& wizard = open("softcheck1=1\nsoftname1=Gypsy");
  QTest::mouseClick(&wizard.runAfterBox(), Qt::LeftButton);
  QTest::mouseClick(&wizard.agreementBox(), Qt::LeftButton);
  struct Expected {
    QWidget* control;
    QAccessible::Role role;
    const char* name;
    bool checked, disabled;
  };
  const Expected options[] = {
      {&wizard.installButton(), QAccessible::Button, "立即安装", false, true},
      {&wizard.agreementBox(), QAccessible::CheckBox, "已阅读并同意", false, false},
      {&wizard.runAfterBox(), QAccessible::CheckBox, "安装成功后运行 Vexta影音", true, false},
      {wizard.offerBox(1), QAccessible::CheckBox, "Gypsy", true, false},
      {&wizard.label(CLumoInstallerDlg::kLicenseId), QAccessible::Link, "《Vexta影音软件用户使用协议》!", false, false},
      {&wizard.label(CLumoInstallerDlg::kChangeFolderId), QAccessible::Link, "更改", false, false},
      {&wizard.label(CLumoInstallerDlg::kFolderCaptionId), QAccessible::StaticText, "软件将安装至:", false, false},
      {&wizard.closeButton(), QAccessible::Button, "关闭", false, false},
      {&wizard.minimiseButton(), QAccessible::Button, "最小化", false, false},
  };
  const auto check = [](const Expected& e) {
    QAccessibleInterface* described = QAccessible::queryAccessibleInterface(e.control);
    ASSERT_NE(described, nullptr);
    SCOPED_TRACE(e.name);
    EXPECT_EQ(described->role(), e.role);
    EXPECT_EQ(described->text(QAccessible::Name).toStdString(), e.name);
    EXPECT_EQ(bool(described->state().checked), e.checked);
    EXPECT_EQ(bool(described->state().disabled), e.disabled);
  };
  for (const Expected& e : options) check(e);

  QTest::mouseClick(&wizard.agreementBox(), Qt::LeftButton);
  QTest::mouseClick(&wizard.installButton(), Qt::LeftButton);
  check({&wizard.installButton(), QAccessible::Button, "正在安装", false, true});
  check({&wizard.closeButton(), QAccessible::Button, "关闭", false, true});
  wizard.showProgress(42, "");
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(&wizard.progressBar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
  EXPECT_EQ(bar->text(QAccessible::Name).toStdString(), "正在为您安装Vexta影音，请稍候");
  EXPECT_EQ(bar->text(QAccessible::Value).toStdString(), "42%");
  ASSERT_NE(bar->valueInterface(), nullptr);
  EXPECT_EQ(bar->valueInterface()->currentValue().toInt(), 42);
  EXPECT_EQ(bar->valueInterface()->maximumValue().toInt(), 100);
  ASSERT_TRUE(serveUntil([&] { return wizard.isHidden(); }));
}

}  // namespace
}  // namespace lumo::ui
