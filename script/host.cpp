#include "script/host.h"

#include <atomic>
#include <cstdio>

namespace lumo {
namespace {

// No window: nothing to show progress in, so questions are answered as an
// unattended run would answer them, and the user still reads why on stderr.
class WindowlessHost final : public Host {
 public:
  void balloon(const std::string&, const std::string&) override {}
  void installFailed() override {}
  void installFinished() override {}
  void progress(const std::string&, int) override {}
  Button ask(const Question& question) override {
    std::fprintf(stderr, "%s: %s\n", question.caption.c_str(), question.text.c_str());
    return question.silentAnswer;
  }
};

WindowlessHost windowlessHost;
std::atomic<Host*> currentHost{nullptr};

}  // namespace

Host& host() {
  Host* h = currentHost.load();
  return h ? *h : windowlessHost;
}

void setHost(Host* h) { currentHost.store(h); }

}  // namespace lumo
