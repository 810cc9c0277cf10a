#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "support/test_support.h"
#include "ui/lumo_dialog.h"
#include "ui/message_boxes.h"
#include "ui/skin.h"
#include "ui_test_support.h"

namespace lumo::ui {
namespace {

using namespace std::chrono_literals;
using test::TestSkin;

// A point inside each layer of the surface, with the progress bar shown, and
// the layer under it there (0: none).
struct Layer {
  int id;
  QPoint inside;
  int below;
};
const Layer kLayers[] = {
    {skin::kBannerWorking, {270, 80}, 0},  {skin::kBodyLeft, {2, 300}, 0},
    {skin::kBodyMiddle, {270, 330}, 0},    {skin::kBodyRight, {537, 300}, 0},
    {skin::kProgressTrack, {480, 239}, skin::kBodyMiddle},
};

TEST(CLumoDialog, EveryLayerIsPaintedAndAMissingImageLeavesOnlyItsOwnPart) {
  for (const Layer& missing : kLayers) {
    TestSkin skin({missing.id});
    CLumoDialog dialog;
    dialog.setProgressBarVisible(true);
    const QImage surface = dialog.composeSurface();
    ASSERT_EQ(surface.size(), QSize(540, 377));
    for (const Layer& layer : kLayers) {
      const QRgb pixel = surface.pixel(layer.inside);
      if (layer.id == missing.id) {
        EXPECT_EQ(pixel, layer.below ? TestSkin::colourOf(layer.below) : 0u) << "image " << layer.id << " is missing";
      } else {
        EXPECT_EQ(pixel, TestSkin::colourOf(layer.id)) << "image " << layer.id << " without " << missing.id;
      }
    }
  }
}

TEST(CLumoDialog, TheBodyReachesTheLastRowAndColumn) {
  TestSkin skin;
  CLumoDialog dialog;
  const QImage surface = dialog.composeSurface();
  EXPECT_EQ(surface.pixel(539, 300), TestSkin::colourOf(skin::kBodyRight));
  EXPECT_EQ(surface.pixel(270, 376), TestSkin::colourOf(skin::kBodyMiddle));
}

TEST(CLumoDialog, TheBannerTurnsToTheWorkingOneWhileTheBarShows) {
  TestSkin skin;
  CLumoDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.grab().toImage().pixel(100, 80), TestSkin::colourOf(skin::kBanner));
  EXPECT_NE(dialog.grab().toImage().pixel(480, 239), TestSkin::colourOf(skin::kProgressTrack));
  dialog.setProgressBarVisible(true);
  EXPECT_EQ(dialog.grab().toImage().pixel(100, 80), TestSkin::colourOf(skin::kBannerWorking));
}

TEST(CLumoDialog, IsAFramelessWindowWithRoundedCornersAndItsTwoButtons) {
  TestSkin skin;
  CLumoDialog dialog;
  dialog.show();
  EXPECT_EQ(dialog.size(), QSize(540, 377));
  EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
  const QRegion shape = dialog.mask();
  for (QPoint corner : {QPoint(0, 0), QPoint(539, 0), QPoint(0, 376), QPoint(539, 376)}) {
    EXPECT_FALSE(shape.contains(corner)) << corner.x() << "," << corner.y();
  }
  for (QPoint inside : {QPoint(3, 3), QPoint(536, 3), QPoint(0, 10), QPoint(270, 376)}) {
    EXPECT_TRUE(shape.contains(inside)) << inside.x() << "," << inside.y();
  }
  EXPECT_EQ(dialog.minimiseButton().geometry(), QRect(474, 0, 31, 23));
  EXPECT_EQ(dialog.closeButton().geometry(), QRect(505, 0, 35, 23));
  EXPECT_EQ(dialog.closeButton().grab().toImage().pixel(10, 10), TestSkin::colourOf(skin::kCloseNormal));
}

TEST(CLumoDialog, ThePercentageLineShowsBelowAHundredOnly) {
  CLumoDialog dialog;
  dialog.show();
  struct Case {
    int position;
    bool shown;
    const char* text;
  };
  const Case cases[] = {{0, true, "(0%) ..."}, {37, true, "(37%) ..."}, {100, false, nullptr}, {99, true, "(99%) ..."}};
  for (const Case& c : cases) {
    dialog.showProgress(c.position);
    EXPECT_EQ(dialog.progressBar().position(), c.position);
    EXPECT_EQ(dialog.percentageLabel().isVisible(), c.shown) << c.position;
    if (c.text) {
      EXPECT_EQ(dialog.percentageLabel().text().toStdString(), c.text);
    }
  }
}

TEST(CLumoDialog, APressOnTheSurfaceMovesTheWindowAndAPressOnAChildDoesNot) {
  CLumoDialog dialog;
  dialog.show();
  QTest::mousePress(&dialog.closeButton(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(dialog.moving());
  QTest::mouseRelease(&dialog.closeButton(), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(100, 300));
  EXPECT_TRUE(dialog.moving());
  QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(100, 300));
}

TEST(CLumoDialog, TheCloseButtonAsksTheFlowInsteadOfClosing) {
  CLumoDialog dialog;
  dialog.show();
  int requests = 0;
  QObject::connect(&dialog, &CLumoDialog::closeRequested, [&] { ++requests; });
  QTest::mouseClick(&dialog.closeButton(), Qt::LeftButton);
  dialog.close();
  EXPECT_EQ(requests, 2);
  EXPECT_TRUE(dialog.isVisible());
}

TEST(MessageBoxes, AQuestionAnsweredByIdIsNotShown) {
  messageBoxes().answerWithoutShowing("install.confirm-exit", Button::No);
  Question question;
  question.id = "install.confirm-exit";
  question.buttons = {Button::Yes, Button::No};
  EXPECT_EQ(messageBoxes().ask(question, nullptr), Button::No);
  EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);
  messageBoxes().showAgain("install.confirm-exit");
}

TEST(MessageBoxes, ABoxShowsTheQuestionAndReturnsTheButtonPressed) {
  const Question question{.id = "install.confirm-exit",
                          .text = "您确定要退出 Vexta影音 安装程序吗？",
                          .caption = "退出安装",
                          .buttons = {Button::Yes, Button::No},
                          .defaultButton = Button::No,
                          .icon = Icon::Information};
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString defaultText;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    icon = box->icon();
    defaultText = box->defaultButton()->text();
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(messageBoxes().ask(question, nullptr), Button::Yes);
  EXPECT_EQ(caption.toStdString(), question.caption);
  EXPECT_EQ(text.toStdString(), question.text);
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(defaultText.toStdString(), "否(&N)");
}

TEST(InterfaceFont, ResolvesToTheInstalledCjkFontAtTheFontScale) {
  const QFont font = interfaceFont();
  EXPECT_EQ(QFontInfo(font).family().toStdString(), "WenQuanYi Micro Hei");
  EXPECT_EQ(font.pointSize(), 10);
}

}  // namespace
}  // namespace lumo::ui
