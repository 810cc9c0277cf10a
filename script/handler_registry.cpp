#include "script/handler_registry.h"

#include <map>
#include <mutex>

namespace lumo {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, Handler, std::less<>> handlers;
};

// Built on first use, so registrations from static objects of any
// translation unit find it ready.
Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

Handler findHandler(std::string_view verb) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.handlers.find(verb);
  return it == r.handlers.end() ? nullptr : it->second;
}

void registerHandler(std::string_view verb, Handler handler) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.handlers[std::string(verb)] = handler;
}

}  // namespace lumo
