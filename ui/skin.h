// The skin: the PNG images the windows are painted from, carried in the
// installer's resource bundle as type "PNG" by id (and their 2x art as type
// "PNG2X" with the same id), and the interface font.
#pragma once

#include <QFont>
#include <QImage>
#include <functional>
#include <optional>
#include <string>

namespace lumo::ui {

// Ids of the skin images (see the image table in docs/skin.md).
namespace skin {
inline constexpr int kBodyLeft = 1020;
inline constexpr int kBodyMiddle = 1021;
inline constexpr int kBodyRight = 1022;
inline constexpr int kBanner = 1023;
inline constexpr int kBannerWorking = 1024;
inline constexpr int kInstallCheckedDisabled = 1025;
inline constexpr int kInstallHover = 1026;
inline constexpr int kInstallNormal = 1027;
inline constexpr int kCloseNormal = 1028;
inline constexpr int kCloseHover = 1029;
inline constexpr int kMinimiseNormal = 1030;
inline constexpr int kMinimiseHover = 1031;
inline constexpr int kUninstallNormal = 1032;
inline constexpr int kUninstallHover = 1033;
inline constexpr int kCancelNormal = 1034;
inline constexpr int kCancelHover = 1035;
inline constexpr int kProgressTrack = 1036;
inline constexpr int kProgressFill = 1037;
inline constexpr int kOkNormal = 1038;
inline constexpr int kOkHover = 1039;
inline constexpr int kInstallChecked = 1040;
inline constexpr int kInstallCheckedHover = 1041;
inline constexpr int kBoxNormal = 1042;
inline constexpr int kBoxChecked = 1043;
inline constexpr int kBoxHover = 1044;
inline constexpr int kBoxCheckedHover = 1045;
inline constexpr int kButtonSpare = 1046;
inline constexpr int kRecommendedCaption = 1052;
inline constexpr int kInstallDisabled = 1053;
inline constexpr int kCloseDisabled = 1054;
inline constexpr int kNewerNormal = 1056;
inline constexpr int kNewerHover = 1057;
}  // namespace skin

// Decodes skin image `id` into `slot`. Returns false, leaving the slot
// empty, when the installer carries no such image; an undecodable image
// also leaves it empty, and every painter skips empty slots, so a missing
// image leaves only its own part unpainted.
bool LoadPngResource(int id, QImage& slot);

// Decodes the 2x art of image `id` (twice the 1x size in each direction)
// into `slot`, marked with a device pixel ratio of 2 so that painters draw
// it in its logical size. False, leaving the slot empty, without one.
bool LoadPng2xResource(int id, QImage& slot);

// One skin image as the windows paint it: the 1x image and, where the skin
// has one, its 2x art. At a device pixel ratio of 1.5 or more the 2x art is
// painted, in the same logical place and size.
struct SkinArt {
  QImage x1;
  QImage x2;  // empty, or exactly twice x1 in each direction
  // Loads both; the result is whether the 1x image was there. 2x art of any
  // other size is left out rather than drawn distorted.
  bool load(int id);
  void set(const QImage& image) { x1 = image, x2 = QImage(); }
  const QImage& at(qreal devicePixelRatio) const { return devicePixelRatio >= 1.5 && !x2.isNull() ? x2 : x1; }
  bool isNull() const { return x1.isNull(); }
};

// Where the PNG bytes come from: the installer's bundle, unless a test
// supplies its own images. Pass an empty function to go back to the bundle.
// A test's own skin has no 2x art unless it gives a second source.
using PngSource = std::function<std::optional<std::string>(int id)>;
void setPngSource(PngSource source, PngSource source2x = {});
// Takes the images from the bundle of another installer (screenshots, benchmarks).
void useSkinOf(const std::string& installerPath);

// Makes the interface font "微软雅黑" resolve to the CJK font installed
// here (WenQuanYi Micro Hei) for every widget of the process.
void installFontSubstitution();

// The font every text of the windows uses: the interface font at the font
// scale, in points.
QFont interfaceFont();

}  // namespace lumo::ui
