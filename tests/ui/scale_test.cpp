// The windows at a device pixel ratio of 2 (QT_SCALE_FACTOR=2): the 2x art
// is painted pixel for pixel, in the same logical geometry.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QTest>
#include <cstdlib>

#include "support/test_support.h"
#include "ui/controls.h"
#include "ui/lumo_dialog.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

// The screen's scale is read when the application object is made, in the
// shared main: this program asks for 2 before main runs, whatever the
// caller's environment says.
const bool kAtScaleTwo = qputenv("QT_SCALE_FACTOR", "2");

const std::map<int, QSize> kSizes = {{1020, {5, 215}},   {1021, {2, 215}},  {1022, {5, 215}},  {1023, {540, 161}},
                                     {1024, {540, 161}}, {1028, {35, 23}},  {1030, {31, 23}},  {1036, {100, 18}},
                                     {1037, {100, 17}},  {1032, {112, 40}}, {1033, {112, 40}}};

QRgb flatColour(int id) { return qRgb((id * 37) % 256, (id * 91) % 256, 90); }

// 2x art no doubling of anything can give: every device pixel differs from
// its neighbours.
QRgb patternAt(int id, int x, int y) {
  return (x + y) % 2 ? flatColour(id) : qRgb(255 - qRed(flatColour(id)), 20 + (x * 3 + y) % 200, 200);
}

std::string png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

// The 1x images in one colour each; the 2x art patterned, at `factor` times
// the 1x size (2 is right; anything else is a mistake of the skin).
void useSkin(int factor) {
  setPngSource(
      [](int id) -> std::optional<std::string> {
        auto size = kSizes.find(id);
        if (size == kSizes.end()) return std::nullopt;
        QImage image(size->second, QImage::Format_ARGB32);
        image.fill(flatColour(id));
        return png(image);
      },
      [factor](int id) -> std::optional<std::string> {
        auto size = kSizes.find(id);
        if (size == kSizes.end()) return std::nullopt;
        QImage image(size->second * factor, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, patternAt(id, x, y));
        return png(image);
      });
}

struct Restore {
  ~Restore() { setPngSource({}); }
};

TEST(TwoX, TheScreenIsAtScaleTwo) {
  ASSERT_TRUE(kAtScaleTwo);
  ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
}

TEST(TwoX, TheWindowPaintsThe2xArtPixelForPixelInTheSameLogicalGeometry) {
  Restore restore;
  const struct {
    const char* name;
    int factor;
    bool patterned;
  } cases[] = {{"2x art", 2, true}, {"2x art of a wrong size", 3, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    useSkin(c.factor);
    CLumoDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.size(), QSize(540, 377));
    const QImage shown = dialog.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(1080, 754));
    int wrong = 0;
    // The banner below the window's buttons, and the body.
    for (int y = 50; y < 322; y += 3) {
      for (int x = 0; x < 1080; x += 5) {
        const QRgb expected = c.patterned ? patternAt(1023, x, y) : flatColour(1023);
        wrong += (shown.pixel(x, y) & 0xFFFFFF) != (expected & 0xFFFFFF);
      }
    }
    EXPECT_EQ(wrong, 0);
    // The body's left edge is stretched in height only: its columns are the
    // art's, one for one.
    int alike = 0;
    for (int x = 0; x < 9; ++x) alike += shown.pixel(x, 500) == shown.pixel(x + 1, 500);
    EXPECT_EQ(alike, c.patterned ? 0 : 9);
  }
}

TEST(TwoX, AButtonAndTheBarPaintTheir2xArt) {
  Restore restore;
  useSkin(2);
  QWidget owner;
  owner.resize(300, 100);
  CPngButton button(1000, QSize(112, 40), &owner);
  button.loadImage(CPngButton::Normal, 1032);
  CLumoProgress bar(&owner);
  bar.setGeometry(0, 50, 200, 18);
  bar.setMaximum(100);
  bar.setPosition(100);
  owner.show();
  const QImage face = button.grab().toImage();
  ASSERT_EQ(face.size(), QSize(224, 80));
  EXPECT_EQ(face.pixel(11, 7) & 0xFFFFFF, patternAt(1032, 11, 7) & 0xFFFFFF);
  EXPECT_EQ(face.pixel(12, 7) & 0xFFFFFF, patternAt(1032, 12, 7) & 0xFFFFFF);
  // The bar's caps are 3 logical pixels, 6 columns of the 2x art each, no
  // column doubled.
  const QImage fill = bar.grab().toImage();
  for (int x = 0; x < 5; ++x) EXPECT_NE(fill.pixel(x, 9), fill.pixel(x + 1, 9)) << x;
  for (int x = 394; x < 399; ++x) EXPECT_NE(fill.pixel(x, 9), fill.pixel(x + 1, 9)) << x;
}

// The skin the installer carries: its 2x banner, as the window paints it,
// is the 1x art drawn again at twice the detail: averaged back down it is
// the 1x banner, and it is no nearest-neighbour doubling of it.
TEST(TwoX, TheInstallersBannerIsDrawnAtTwiceTheDetail) {
  Restore restore;
  useSkinOf(test::buildPath("LumoInstaller"));
  QImage banner;
  ASSERT_TRUE(LoadPngResource(skin::kBanner, banner));
  CLumoDialog dialog;
  dialog.show();
  const QImage shown = dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), QSize(1080, 754));
  double difference = 0;
  int samples = 0, unlikeDoubling = 0;
  for (int y = 30; y < 160; ++y) {
    for (int x = 0; x < 460; ++x) {
      const QRgb one = banner.pixel(x, y);
      int channels[3] = {0, 0, 0};
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const QRgb two = shown.pixel(2 * x + dx, 2 * y + dy);
          channels[0] += qRed(two), channels[1] += qGreen(two), channels[2] += qBlue(two);
          unlikeDoubling += std::abs(qGray(two) - qGray(one)) > 24;
        }
      }
      difference += std::abs(channels[0] / 4 - qRed(one)) + std::abs(channels[1] / 4 - qGreen(one)) +
                    std::abs(channels[2] / 4 - qBlue(one));
      ++samples;
    }
  }
  EXPECT_LT(difference / samples / 3, 4.0) << "averaged down, it is the 1x banner";
  EXPECT_GT(unlikeDoubling, 1000) << "the name and the mark have their own, finer edges";
}

}  // namespace
}  // namespace lumo::ui
