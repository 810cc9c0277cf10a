// The registry: keys under three roots, each key holding subkeys and typed
// values, kept in SQLite files. Key and value names compare without regard
// to letter case and keep the case they were created with. Paths below a
// root use "\" between key names.
//
// Where each root lives (see docs/registry.md):
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/lumo/registry/current_user.sqlite
//   HKEY_LOCAL_MACHINE  /var/lib/lumo/registry/local_machine.sqlite as root,
//   HKEY_CLASSES_ROOT   /var/lib/lumo/registry/classes_root.sqlite as root;
//                       for anybody else the same names in the user's folder
//                       (machine keys are virtualised per user).
// LUMO_SYSROOT moves the machine-wide files under its folder.
//
// Every operation gives a RegistryResult: its value, or a RegistryFailure
// with a status numbered like the Windows error codes (so that code written
// against those codes reads the same) and a readable account (file, cause).
// A missing key or value is a failure too (NotFound): the callers act on it
// as the Windows calls' callers do. Several processes may use a store at the
// same time. A file that is damaged or is not a registry store is reported
// (RegistryStatus::StoreDamaged) and left as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace lumo {

enum class RegistryRoot { CurrentUser, LocalMachine, ClassesRoot };

enum class RegistryStatus : long {
  NotFound = 2,           // no such key or value
  AccessDenied = 5,       // the store file can not be opened or written
  InvalidParameter = 87,  // an empty key name inside a path, a closed key
  MoreData = 234,         // a subkey name does not fit the caller's buffer
  NoMoreItems = 259,      // enumeration index past the last subkey
  StoreDamaged = 1009,    // the file is damaged or is not a registry store
  BadKey = 1010,          // empty key name where one is required
  CantWrite = 1013,       // the store could not be read or written (I/O, busy)
  KeyDeleted = 1018,      // the open key was deleted meanwhile
  KeyHasChildren = 1020,  // deleteKey on a key that still has subkeys
};

struct RegistryFailure {
  RegistryStatus status;
  std::string why;  // for people: the file and the cause
};

template <typename T = void>
using RegistryResult = Result<T, RegistryFailure>;

// Numbers as the Windows value types.
enum class RegistryType : std::uint32_t { None = 0, String = 1, Binary = 3, Dword = 4 };

struct RegistryValue {
  RegistryType type = RegistryType::None;
  std::string bytes;  // a String written by setString ends with its zero byte
};

struct NamedRegistryValue {
  std::string name;
  RegistryValue value;
};

namespace detail {
class RegistryDatabase;
}

// An open key. Copyable; closing (or destroying) the last copy closes it.
class RegistryKey {
 public:
  RegistryKey() = default;
  bool isOpen() const { return database_ != nullptr; }
  void close();
  RegistryRoot root() const { return root_; }

 private:
  friend struct RegistryAccess;
  std::shared_ptr<detail::RegistryDatabase> database_;
  std::int64_t id_ = 0;
  std::uint64_t generation_ = 0;  // which file the id belongs to (see RegistryDatabase)
  RegistryRoot root_ = RegistryRoot::CurrentUser;
};

// Opens an existing key; an empty path opens the root (or the parent) itself.
// Never creates anything, not even the store file.
RegistryResult<RegistryKey> openKey(RegistryRoot root, std::string_view path);
RegistryResult<RegistryKey> openKey(const RegistryKey& parent, std::string_view path);

// Opens the key, creating it and every missing key above it. A new key may
// lie at most 512 levels below its root, as in Windows; a deeper one is
// refused (InvalidParameter, and the why says so).
RegistryResult<RegistryKey> createKey(RegistryRoot root, std::string_view path);
RegistryResult<RegistryKey> createKey(const RegistryKey& parent, std::string_view path);

// Reads a value; the empty name is the key's default (unnamed) value.
RegistryResult<RegistryValue> queryValue(const RegistryKey& key, std::string_view name);

// Writes a string value: the text and a terminating zero byte.
RegistryResult<> setString(const RegistryKey& key, std::string_view name, std::string_view text);
// Writes a DWORD value: four bytes, little-endian.
RegistryResult<> setDword(const RegistryKey& key, std::string_view name, std::uint32_t number);
// Writes a value of any type with the given bytes.
RegistryResult<> setValue(const RegistryKey& key, std::string_view name, RegistryType type, std::string_view bytes);

// The name of the subkey at `index` in the order of their folded names;
// NoMoreItems past the last. MoreData when the name takes `maxUnits` UTF-16
// units or more (a buffer of `maxUnits` units with its terminating zero, as
// the Windows call has).
RegistryResult<std::string> enumSubkey(const RegistryKey& key, std::uint32_t index, std::size_t maxUnits = 256);

// The value at `index` in the order of their folded names (the default
// value, named "", first when present); NoMoreItems past the last.
RegistryResult<NamedRegistryValue> enumValue(const RegistryKey& key, std::uint32_t index);

// Deletes the subkey `name` of `parent` with its values; refuses a key that
// has subkeys. The name may be a path below the parent.
RegistryResult<> deleteKey(const RegistryKey& parent, std::string_view name);
RegistryResult<> deleteKey(RegistryRoot root, std::string_view path);

// Deletes the subkey `name` of `parent` with everything below it, as the
// Windows code does it: depth first, always the first subkey in name order,
// each key once it has no subkeys left. A subkey name of `maxUnits` UTF-16
// units or more stops the delete (MoreData); what was deleted before stays
// deleted. A failure of the store undoes the whole delete. Any depth: the
// walk keeps its own list, not the call stack.
RegistryResult<> deleteTree(const RegistryKey& parent, std::string_view name, std::size_t maxUnits = SIZE_MAX);

RegistryResult<> deleteValue(const RegistryKey& key, std::string_view name);

// The bytes of a value up to its first zero byte, as a narrow string read
// into a zero-filled buffer would give them.
std::string valueText(const RegistryValue& value);

// The store file that holds a root for this process (depends on the user and
// on HOME, XDG_CONFIG_HOME and LUMO_SYSROOT at the time of the call).
std::string registryStorePath(RegistryRoot root);
// The same for a process that does (`elevated`) or does not run as root.
std::string registryStorePath(RegistryRoot root, bool elevated);

}  // namespace lumo
