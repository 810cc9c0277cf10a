#include "ui_test_support.h"

#include <QApplication>
#include <QBuffer>
#include <gtest/gtest.h>

#include "commands/families.h"
#include "script/run_environment.h"
#include "ui/skin.h"

namespace lumo::test {
namespace {

// Sizes of the image table.
const std::map<int, QSize> kSizes = {
    {1020, {5, 215}},   {1021, {2, 215}},   {1022, {5, 215}},   {1023, {540, 161}}, {1024, {540, 161}},
    {1028, {35, 23}},   {1029, {35, 23}},   {1030, {31, 23}},   {1031, {31, 23}},   {1036, {100, 18}},
    {1037, {100, 17}},  {1042, {14, 14}},   {1043, {14, 14}},   {1044, {14, 14}},   {1045, {14, 14}},
    {1052, {85, 13}},   {1054, {35, 23}},
};

}  // namespace

QRgb TestSkin::colourOf(int id) { return qRgb((id * 37) % 256, (id * 91) % 256, (id * 53) % 200 + 40); }

TestSkin::TestSkin(std::initializer_list<int> leaveOut) {
  std::map<int, std::string> pngs;
  for (const auto& [id, size] : kSizes) {
    if (std::find(leaveOut.begin(), leaveOut.end(), id) != leaveOut.end()) continue;
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colourOf(id));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    pngs[id] = bytes.toStdString();
  }
  ui::setPngSource([pngs](int id) -> std::optional<std::string> {
    auto found = pngs.find(id);
    if (found == pngs.end()) return std::nullopt;
    return found->second;
  });
}

TestSkin::~TestSkin() { ui::setPngSource({}); }

}  // namespace lumo::test

int main(int argc, char** argv) {
  lumo::commands::registerCommandFamilies();
  // Hermetic: no display server, whatever the caller's environment says.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  lumo::runEnvironment().interfaceFont = "微软雅黑";
  QApplication application(argc, argv);
  lumo::ui::installFontSubstitution();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
