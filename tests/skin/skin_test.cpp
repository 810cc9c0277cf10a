#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QSize>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/resource_bundle.h"
#include "support/test_support.h"

namespace lumo {
namespace {

struct Carried {
  const char* type;
  std::uint32_t id;
  std::vector<QSize> sizes;  // every image the resource holds, in order
};

// Every image the windows load, at the size they draw it, and the icon group.
const Carried kCarried[] = {
    {"PNG", 1020, {{5, 215}}},   {"PNG", 1021, {{2, 215}}},   {"PNG", 1022, {{5, 215}}},
    {"PNG", 1023, {{540, 161}}}, {"PNG", 1024, {{540, 161}}}, {"PNG", 1025, {{200, 65}}},
    {"PNG", 1026, {{200, 65}}},  {"PNG", 1027, {{200, 65}}},  {"PNG", 1028, {{35, 23}}},
    {"PNG", 1029, {{35, 23}}},   {"PNG", 1030, {{31, 23}}},   {"PNG", 1031, {{31, 23}}},
    {"PNG", 1032, {{112, 40}}},  {"PNG", 1033, {{112, 40}}},  {"PNG", 1034, {{112, 40}}},
    {"PNG", 1035, {{112, 40}}},  {"PNG", 1036, {{100, 18}}},  {"PNG", 1037, {{100, 17}}},
    {"PNG", 1038, {{112, 40}}},  {"PNG", 1039, {{112, 40}}},  {"PNG", 1040, {{200, 65}}},
    {"PNG", 1041, {{200, 65}}},  {"PNG", 1042, {{14, 14}}},   {"PNG", 1043, {{14, 14}}},
    {"PNG", 1044, {{14, 14}}},   {"PNG", 1045, {{14, 14}}},   {"PNG", 1046, {{20, 14}}},
    {"PNG", 1052, {{85, 13}}},   {"PNG", 1053, {{200, 65}}},  {"PNG", 1054, {{35, 23}}},
    {"PNG", 1056, {{200, 65}}},  {"PNG", 1057, {{200, 65}}},
    {"ICON", 128, {{256, 256}, {128, 128}, {96, 96}, {48, 48}, {32, 32}, {16, 16}}},
};

std::vector<QSize> decodedSizes(const std::string& bytes, const char* format) {
  QByteArray data(bytes.data(), qsizetype(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  std::vector<QSize> sizes;
  do {
    QImage image = reader.read();
    if (image.isNull()) break;
    sizes.push_back(image.size());
  } while (reader.jumpToNextImage());
  return sizes;
}

TEST(Skin, TheInstallerCarriesEveryImageAtItsSize) {
  const Result<ResourceBundle> opened = ResourceBundle::open(test::buildPath("LumoInstaller"));
  ASSERT_TRUE(opened) << opened.why();
  const ResourceBundle& bundle = *opened;
  ASSERT_FALSE(bundle.entries().empty());
  for (const Carried& row : kCarried) {
    SCOPED_TRACE(std::string(row.type) + " " + std::to_string(row.id));
    const std::optional<std::string> bytes = bundle.load(row.type, row.id);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(decodedSizes(*bytes, std::string(row.type) == "ICON" ? "ico" : "png"), row.sizes);
  }
}

// Screens at a device pixel ratio of 1.5 or more paint the 2x art: every
// image has it, at exactly twice its size.
TEST(Skin, EveryImageHasIts2xArtAtTwiceItsSize) {
  const Result<ResourceBundle> opened = ResourceBundle::open(test::buildPath("LumoInstaller"));
  ASSERT_TRUE(opened) << opened.why();
  const ResourceBundle& bundle = *opened;
  ASSERT_FALSE(bundle.entries().empty());
  for (const Carried& row : kCarried) {
    if (std::string(row.type) != "PNG") continue;
    SCOPED_TRACE(row.id);
    const std::optional<std::string> bytes = bundle.load("PNG2X", row.id);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(decodedSizes(*bytes, "png"), std::vector<QSize>{row.sizes.front() * 2});
  }
}

}  // namespace
}  // namespace lumo
