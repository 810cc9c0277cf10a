// The lint of offer lists (the recommended programs an installer fetches
// with GetSoft): each offer line must carry its eight attributes in order,
// values the script line can carry, a web address, and the SHA-256 that
// lets the installer check the program before it runs it.
#pragma once

#include <string>
#include <vector>

#include "lint.h"

namespace lumo {

// Offer lists are told from scripts by their name: they end in ".xml".
bool isOfferList(const std::string& path);

std::vector<LintFinding> lintOfferList(const std::string& path);

}  // namespace lumo
