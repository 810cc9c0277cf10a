// A product folder: what `lumo-pack init` writes and `lumo-pack build`
// turns into an installer.
//
//   DIR/install.ini   the installation script (GBK, CR LF), its [var]
//                     naming the product
//   DIR/theme.ini     the look of the windows (UTF-8), read by lumo-skin
//   DIR/payload/      the product's files, as they go into the install folder
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace lumo_pack {

struct ProductError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Writes a new product folder named after the last component of `dir`.
// Refuses a folder that holds anything already.
void initProduct(const std::string& dir);

// What the build made in `work` for the product in `dir`: the payload and
// the skin, as lumo-pack's --set arguments, and the name for the report.
struct PreparedProduct {
  std::vector<std::string> sets;  // "TYPE:ID=FILE"
  std::string payload;
  std::string name;  // product_name of the script
};

// Packs DIR/payload/ with 7zz (the payload recipe) and draws the skin from
// DIR/theme.ini with the lumo-skin beside this program, into `work`.
PreparedProduct prepareProduct(const std::string& dir, const std::string& work);

// The folder of the running program, with no "/" at its end.
std::string programFolder();

}  // namespace lumo_pack
