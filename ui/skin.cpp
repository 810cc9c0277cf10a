#include "ui/skin.h"

#include <QFontDatabase>
#include <QString>
#include <memory>

#include "formats/resource_bundle.h"
#include "script/run_environment.h"

namespace lumo::ui {
namespace {

constexpr const char* kInstalledCjkFont = "WenQuanYi Micro Hei";

PngSource& pngSource() {
  static PngSource source;
  return source;
}

}  // namespace

void setPngSource(PngSource source) { pngSource() = std::move(source); }

void useSkinOf(const std::string& installerPath) {
  auto bundle = std::make_shared<ResourceBundle>(ResourceBundle::open(installerPath));
  setPngSource([bundle](int id) { return bundle->load("PNG", static_cast<std::uint32_t>(id)); });
}

bool LoadPngResource(int id, QImage& slot) {
  slot = QImage();
  std::optional<std::string> bytes =
      pngSource() ? pngSource()(id) : ResourceBundle::ofThisProgram().load("PNG", static_cast<std::uint32_t>(id));
  if (!bytes) return false;
  // Painters work in premultiplied ARGB; converting once here saves it on
  // every paint.
  QImage image = QImage::fromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size()), "PNG");
  if (!image.isNull()) slot = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
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
