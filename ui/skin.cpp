#include "ui/skin.h"

#include <QFontDatabase>
#include <QString>
#include <memory>

#include "formats/resource_bundle.h"
#include "script/run_environment.h"

namespace lumo::ui {
namespace {

constexpr const char* kInstalledCjkFont = "WenQuanYi Micro Hei";

constexpr const char* kType = "PNG";
constexpr const char* kType2x = "PNG2X";

struct PngSources {
  PngSource x1;
  PngSource x2;
  bool own = false;  // a test's or another installer's, not this program's bundle
};

PngSources& pngSources() {
  static PngSources sources;
  return sources;
}

bool decodeInto(const std::optional<std::string>& bytes, QImage& slot) {
  slot = QImage();
  if (!bytes) return false;
  // Painters work in premultiplied ARGB; converting once here saves it on
  // every paint.
  QImage image = QImage::fromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size()), "PNG");
  if (!image.isNull()) slot = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
}

}  // namespace

void setPngSource(PngSource source, PngSource source2x) {
  const bool own = static_cast<bool>(source);
  pngSources() = PngSources{std::move(source), std::move(source2x), own};
}

void useSkinOf(const std::string& installerPath) {
  // A skin that cannot be read has no images.
  Result<ResourceBundle> opened = ResourceBundle::open(installerPath);
  auto bundle = std::make_shared<ResourceBundle>(opened ? std::move(*opened) : ResourceBundle());
  setPngSource([bundle](int id) { return bundle->load(kType, static_cast<std::uint32_t>(id)); },
               [bundle](int id) { return bundle->load(kType2x, static_cast<std::uint32_t>(id)); });
}

bool LoadPngResource(int id, QImage& slot) {
  const PngSources& sources = pngSources();
  return decodeInto(sources.own ? sources.x1(id) : ResourceBundle::loadFromThisProgram(kType, static_cast<std::uint32_t>(id)),
                    slot);
}

bool LoadPng2xResource(int id, QImage& slot) {
  const PngSources& sources = pngSources();
  std::optional<std::string> bytes;
  if (!sources.own) {
    bytes = ResourceBundle::loadFromThisProgram(kType2x, static_cast<std::uint32_t>(id));
  } else if (sources.x2) {
    bytes = sources.x2(id);
  }
  const bool found = decodeInto(bytes, slot);
  if (!slot.isNull()) slot.setDevicePixelRatio(2);
  return found;
}

bool SkinArt::load(int id) {
  const bool found = LoadPngResource(id, x1);
  LoadPng2xResource(id, x2);
  if (!x2.isNull() && x2.size() != x1.size() * 2) x2 = QImage();
  return found;
}

void installFontSubstitution() {
  const QString face = QString::fromStdString(runEnvironment().interfaceFont);
  if (!face.isEmpty()) QFont::insertSubstitution(face, QString::fromLatin1(kInstalledCjkFont));
}

QFont interfaceFont() {
  QFont font(QString::fromStdString(runEnvironment().interfaceFont));
  font.setPointSize(runEnvironment().fontScale);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace lumo::ui
