// What commands and the engine may ask of whoever shows the run: the
// progress window's messages (2019 to 2023, each handled before the call
// returns) and questions to the user.
//
// Every question has a stable identifier, so unattended runs and tests answer
// it by name instead of faking a window. In a silent run the host gives the
// question's silent answer without showing anything.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// The caption of the installer's own message boxes.
inline constexpr std::string_view kInstallerCaption = "Vexta影音安装程序";

enum class Button { Ok, Cancel, TryAgain, Continue, Yes, No };
enum class Icon { None, Information, Warning, Error };

struct Question {
  std::string id;       // stable identifier, for example "out.write-failed"
  std::string text;
  std::string caption;
  std::vector<Button> buttons;
  Button defaultButton = Button::Ok;
  Button silentAnswer = Button::Ok;  // the answer of an unattended run
  Icon icon = Icon::None;
};

class Host {
 public:
  virtual ~Host() = default;

  // 2019: a balloon of the notification-area icon.
  virtual void balloon(const std::string& title, const std::string& text) = 0;
  // 2021: a command of an install-side section failed.
  virtual void installFailed() = 0;
  // 2022: [install] is done.
  virtual void installFinished() = 0;
  // 2023: a status text and a percentage (0..100).
  virtual void progress(const std::string& text, int percent) = 0;
  // A modal question; returns the button chosen.
  virtual Button ask(const Question& question) = 0;
  // Out has unpacked `done` of `total` bytes. Called from the unpacking
  // threads, several at once and never through the dialog, so it must not
  // wait for anybody; nobody shows it by default.
  virtual void unpacked(std::uint64_t done, std::uint64_t total) {
    (void)done;
    (void)total;
  }
};

// The host of this run. Without a window, messages are dropped, questions get
// their silent answer and their text goes to stderr.
Host& host();

// Installs the host of the running dialog (nullptr restores the default).
// The host must outlive every worker that may call it.
void setHost(Host* host);

}  // namespace lumo
