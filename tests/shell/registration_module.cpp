// Appends one line per call to the file named by LUMO_TEST_REGISTRATION_LOG.
#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace {

std::int32_t record(const char* what) {
  if (const char* log = std::getenv("LUMO_TEST_REGISTRATION_LOG")) std::ofstream(log, std::ios::app) << what << "\n";
  return 0;
}

}  // namespace

extern "C" std::int32_t DllRegisterServer() { return record("register"); }
extern "C" std::int32_t DllUnregisterServer() { return record("unregister"); }
