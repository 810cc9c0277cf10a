// Program icons on the Linux desktop: the hicolor icon theme, which every
// desktop falls back to. An icon is installed as one PNG per pixel size in
// icons/hicolor/NxN/apps/NAME.png below a data folder (/usr/share for a
// machine-wide installation, $XDG_DATA_HOME for a user), and desktop entries
// then name it by NAME alone, so each desktop picks the size it draws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct IconImage {
  int size = 0;     // pixels, width and height
  std::string png;  // the image file
};

// The square PNG images of a Windows icon file (.ico), one per size, in the
// order of the file; sizes are read from each PNG's header, not from the
// directory. Entries in another format and damaged files give nothing.
std::vector<IconImage> iconImages(std::string_view icoFile);

// A name fit for the theme: letters, digits, ".", "_" and "-" only.
bool isThemeIconName(std::string_view name);

// Writes each image to <dataFolder>/icons/hicolor/<size>x<size>/apps/<name>.png
// (replacing earlier ones) and refreshes the theme's cache. False when the
// name is unfit, there is no image, or a file could not be written.
// Where installThemeIcon puts the image of `size` pixels.
std::string themeIconPath(const std::string& dataFolder, std::string_view name, int size);

bool installThemeIcon(const std::string& dataFolder, std::string_view name, const std::vector<IconImage>& images);

// Removes <name>.png from every size of the theme below `dataFolder`, and the
// folders and cache that held nothing else; refreshes the cache otherwise.
void removeThemeIcon(const std::string& dataFolder, std::string_view name);

}  // namespace lumo
