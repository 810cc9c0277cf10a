// The taskbar pin on Linux: the desktop's list of favourite applications.
// GNOME keeps it in the setting org.gnome.shell favorite-apps, a list of
// desktop file ids, changed through the gsettings program of the session.
// Other desktops offer no list that a program may edit, and then nothing is
// pinned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

enum class PinOutcome {
  Pinned,
  AlreadyPinned,
  NotOffered,  // no session bus, no gsettings, or no GNOME shell settings
  Failed,      // offered, but the entry could not be installed or saved
};

// Adds the desktop entry at `desktopFile` to the favourites. Favourites name
// entries by desktop file id, so an entry outside the applications folders
// (a desktop link) is first copied into $XDG_DATA_HOME/applications under
// its own file name.
PinOutcome pinToFavourites(const std::string& desktopFile);

// The desktop file id of an entry inside one of the applications folders
// ($XDG_DATA_HOME and $XDG_DATA_DIRS, each followed by "/applications"):
// its path below that folder with "/" turned into "-". Empty otherwise.
std::string desktopFileId(std::string_view desktopFile);

// The strings of a GVariant string-array text as gsettings prints it
// ("['a.desktop', 'b.desktop']" or "@as []").
std::vector<std::string> parseStringArray(std::string_view text);

// A GVariant string-array text for gsettings to read.
std::string formatStringArray(const std::vector<std::string>& items);

}  // namespace lumo
