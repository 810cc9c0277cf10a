// The variables of a run: the [var] section of its working script. A
// handle, not a copy: every read goes to the file, every write reaches the
// file at once, so copies of a handle all see the same values.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace lumo {

class Variables {
 public:
  explicit Variables(std::string scriptPath) : scriptPath_(std::move(scriptPath)) {}

  // The value of a key, cut to the value length; the empty text when the
  // key or the file is missing.
  std::string get(std::string_view name) const;

  // A failed write is ignored; the old file stays whole.
  void set(std::string_view name, std::string_view value) const;

  // Whether `path` names the file the variables live in (the working script
  // is GBK text whatever touches it).
  bool storedIn(const std::string& path) const;

  const std::string& scriptPath() const { return scriptPath_; }

 private:
  std::string scriptPath_;
};

}  // namespace lumo
