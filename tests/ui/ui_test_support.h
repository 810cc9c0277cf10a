// Helpers of the window tests: they run on Qt's offscreen platform and make
// their own skin images (solid colours, so a pixel tells which image lies
// where).
#pragma once

#include <QImage>
#include <map>

namespace lumo::test {

// Solid images of the table's sizes, one colour each, served as the skin
// for as long as the object lives. `leaveOut` ids are missing.
class TestSkin {
 public:
  explicit TestSkin(std::initializer_list<int> leaveOut = {});
  ~TestSkin();
  static QRgb colourOf(int id);  // opaque and different for every id
};

}  // namespace lumo::test
