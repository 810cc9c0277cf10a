#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

#include "script/run_environment.h"
#include "ui/controls.h"
#include "ui/skin.h"
#include "ui_test_support.h"

namespace lumo::ui {
namespace {

using test::TestSkin;

QImage solid(QSize size, QRgb colour) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(colour);
  return image;
}

// A check box with the four box images of the table; `withCheckedImages`
// false leaves its three checked slots empty.
void loadBoxImages(CPngButton& box, bool withCheckedImages) {
  box.loadImage(CPngButton::Normal, skin::kBoxNormal);
  box.loadImage(CPngButton::Hover, skin::kBoxHover);
  box.loadImage(CPngButton::Disabled, skin::kBoxNormal);
  if (!withCheckedImages) return;
  box.loadImage(CPngButton::Checked, skin::kBoxChecked);
  box.loadImage(CPngButton::CheckedHover, skin::kBoxCheckedHover);
  box.loadImage(CPngButton::CheckedDisabled, skin::kBoxChecked);
}

bool containsColour(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
    }
  }
  return false;
}

TEST(CPngButton, TheStateChoosesOneOfSixImages) {
  TestSkin skin;
  QWidget owner;
  CPngButton box(1, QSize(100, 16), &owner);
  loadBoxImages(box, true);
  owner.show();
  struct Case {
    bool enabled, hovering, checked;
    CPngButton::Slot slot;
  };
  const Case cases[] = {
      {true, false, false, CPngButton::Normal},     {true, true, false, CPngButton::Hover},
      {true, false, true, CPngButton::Checked},     {true, true, true, CPngButton::CheckedHover},
      {false, true, false, CPngButton::Disabled},   {false, true, true, CPngButton::CheckedDisabled},
  };
  for (const Case& c : cases) {
    box.setEnabled(c.enabled);
    box.setCheckedFlag(c.checked);
    QEvent leave(QEvent::Leave);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&box, c.hovering ? static_cast<QEvent*>(&enter) : &leave);
    EXPECT_EQ(box.chosenSlot(), c.slot) << c.enabled << c.hovering << c.checked;
  }
}

TEST(CPngButton, ACheckBoxWithoutCheckedImagesNeverLooksChecked) {
  TestSkin skin;
  QWidget owner;
  CPngButton box(1, QSize(100, 16), &owner);
  box.setCaption("同意");
  loadBoxImages(box, false);
  EXPECT_FALSE(box.setCheckedFlag(true));
  EXPECT_FALSE(box.checkedFlag());
  EXPECT_FALSE(containsColour(box.grab().toImage(), TestSkin::colourOf(skin::kBoxChecked)));
}

TEST(CPngButton, TheCaptionIsRedWhileAnAlertingBoxIsUnchecked) {
  TestSkin skin;
  QWidget owner;
  CPngButton box(1, QSize(120, 20), &owner);
  loadBoxImages(box, true);
  box.setCaption("我已阅读并同意");
  box.setAlertWhenUnchecked(true);
  EXPECT_TRUE(containsColour(box.grab().toImage(), CPngButton::kAlertColour));
  box.setCheckedFlag(true);
  EXPECT_FALSE(containsColour(box.grab().toImage(), CPngButton::kAlertColour));
  EXPECT_TRUE(containsColour(box.grab().toImage(), CPngButton::kCaptionColour));
}

TEST(CPngButton, ADoubleClickIsTwoClicksAndNeverChangesTheCheckedFlag) {
  TestSkin skin;
  QWidget owner;
  CPngButton box(1, QSize(100, 16), &owner);
  loadBoxImages(box, true);
  owner.show();
  QSignalSpy clicks(&box, &QAbstractButton::clicked);
  QTest::mouseClick(&box, Qt::LeftButton);
  QTest::mouseDClick(&box, Qt::LeftButton);
  QTest::mouseRelease(&box, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_FALSE(box.checkedFlag());
}

TEST(CColorLabel, OnlyAnActiveLinkTakesTheHoverColourAndAnInactiveLabelIsRed) {
  QWidget owner;
  struct Case {
    bool link, active;
    QRgb resting, hovered;
  };
  const Case cases[] = {
      {false, true, CColorLabel::kNormalColour, CColorLabel::kNormalColour},
      {true, true, CColorLabel::kNormalColour, CColorLabel::kHoverColour},
      {true, false, CColorLabel::kInactiveColour, CColorLabel::kInactiveColour},
      {false, false, CColorLabel::kInactiveColour, CColorLabel::kInactiveColour},
  };
  for (const Case& c : cases) {
    CColorLabel label(&owner, "用户协议");
    label.setLink(c.link);
    label.setActive(c.active);
    EXPECT_EQ(label.textColour().rgba(), c.resting);
    QTest::mouseMove(&label, QPoint(3, 3));
    QMouseEvent move(QEvent::MouseMove, QPointF(4, 4), QPointF(4, 4), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &move);
    EXPECT_EQ(label.textColour().rgba(), c.hovered) << c.link << c.active;
  }
}

TEST(CLumoProgress, TheFillIsTruncatedAndItsRightCapEndsAtTheEdgeAtTheMaximum) {
  QWidget owner;
  CLumoProgress bar(&owner);
  bar.setGeometry(0, 0, 440, 18);
  const QRgb fill = qRgb(255, 107, 90);
  bar.setFillImage(solid({100, 17}, fill));
  struct Case {
    int maximum, position, middle;
  };
  const Case cases[] = {{100, 0, 0}, {0, 50, 0}, {100, 1, 4}, {100, 50, 217}, {100, 100, 434}, {3, 1, 144}};
  for (const Case& c : cases) {
    bar.setMaximum(c.maximum);
    bar.setPosition(c.position);
    EXPECT_EQ(bar.fillWidth(), c.middle) << c.maximum << " " << c.position;
    const QImage pixels = bar.grab().toImage();
    const int end = c.middle == 0 && (c.maximum == 0 || c.position == 0) ? 0 : c.middle + 6;
    if (end > 0) {
      EXPECT_EQ(pixels.pixel(end - 1, 9), fill) << c.position;
    }
    if (end < 440) {
      EXPECT_NE(pixels.pixel(end, 9), fill) << c.position;
    }
  }
}

// A double click on a link (the agreement) opens its page once, not twice.
TEST(CColorLabel, ADoubleClickOnALinkIsOneClick) {
  const struct {
    bool link;
    bool doubleClick;
    int clicks;
  } cases[] = {{true, false, 1}, {true, true, 1}, {false, true, 0}};
  for (const auto& c : cases) {
    QWidget owner;
    CColorLabel label(&owner, QStringLiteral("《协议》"));
    label.setGeometry(0, 0, 100, 20);
    label.setLink(c.link);
    owner.show();
    QSignalSpy clicked(&label, &CColorLabel::clicked);
    if (c.doubleClick) {
      // As the window system delivers one: press, release, press, double
      // click, release.
      QTest::mouseClick(&label, Qt::LeftButton);
      QTest::mousePress(&label, Qt::LeftButton);
      QTest::mouseDClick(&label, Qt::LeftButton);
      QTest::mouseRelease(&label, Qt::LeftButton);
    } else {
      QTest::mouseClick(&label, Qt::LeftButton);
    }
    QTest::mouseClick(&label, Qt::RightButton);
    EXPECT_EQ(clicked.count(), c.clicks) << c.link << c.doubleClick;
    // The click after a double click counts again.
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), c.clicks + (c.link ? 1 : 0));
  }
}

// A box's caption keeps its descenders, whatever the font's line: the box
// grows to it (its image stays 14 × 14).
TEST(CPngButton, ACaptionsDescendersAreNotCutByTheBox) {
  TestSkin skin;
  const std::string saved = runEnvironment().interfaceFont;
  const int savedScale = runEnvironment().fontScale;
  const struct {
    const char* font;
    int points;
  } cases[] = {{"微软雅黑", 10}, {"WenQuanYi Micro Hei", 10}, {"微软雅黑", 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.font) + " " + std::to_string(c.points));
    runEnvironment().interfaceFont = c.font;
    runEnvironment().fontScale = c.points;
    QWidget owner;
    CPngButton box(1013, QSize(120, 14), &owner);
    loadBoxImages(box, true);
    box.setCaption(QStringLiteral("gypsy jpg"));
    const QFontMetrics metrics(box.font());
    const int top = std::string(c.font) == "微软雅黑" ? -2 : 0;
    const int inkBottom = top + metrics.ascent() + metrics.tightBoundingRect(QStringLiteral("gypsy jpg")).bottom();
    EXPECT_GT(box.height(), inkBottom);
    EXPECT_GE(box.height(), 14);
    // The lowest row of the descenders holds caption ink.
    const QImage pixels = box.grab().toImage();
    bool ink = false;
    for (int x = 14; x < pixels.width(); ++x) {
      const QRgb pixel = pixels.pixel(x, inkBottom);
      ink = ink || (qAlpha(pixel) > 128 && qGray(pixel) < 160);
    }
    EXPECT_TRUE(ink);
  }
  runEnvironment().interfaceFont = saved;
  runEnvironment().fontScale = savedScale;
}

}  // namespace
}  // namespace lumo::ui
