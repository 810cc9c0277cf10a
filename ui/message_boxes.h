// Every message box of the program is shown here, from the questions that
// commands and flows ask (script/host.h). A question can be answered by its
// id without being shown: for tests and for unattended use.
#pragma once

#include <QMessageBox>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "script/host.h"

class QWidget;

namespace lumo::ui {

class MessageBoxes {
 public:
  // From now on question `id` gets `answer` without a box.
  void answerWithoutShowing(const std::string& id, Button answer);
  void showAgain(const std::string& id);
  std::optional<Button> presetAnswer(const std::string& id) const;

  // Shows the question as a modal box owned by `owner` (on the dialog
  // thread) and returns the button chosen; a preset answer returns at once.
  // Closing the box without a button gives the escape answer: Cancel or No
  // where offered, else the default button.
  Button ask(const Question& question, QWidget* owner);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Button> presets_;
};

// The message boxes of this process.
MessageBoxes& messageBoxes();

// The box as ask() would show it, for callers that want to look before
// showing (tests, screenshots). The box's buttons map back with buttonOf().
QMessageBox* makeMessageBox(const Question& question, QWidget* owner);
std::optional<Button> buttonOf(QMessageBox::StandardButton button);

}  // namespace lumo::ui
