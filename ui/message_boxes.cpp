#include "ui/message_boxes.h"

#include <QAbstractButton>
#include <QPushButton>
#include <algorithm>

namespace lumo::ui {
namespace {

struct ButtonFace {
  Button button;
  QMessageBox::StandardButton standard;
  const char* text;  // as the system's Chinese message boxes label them
};

constexpr ButtonFace kButtonFaces[] = {
    {Button::Ok, QMessageBox::Ok, "确定"},          {Button::Cancel, QMessageBox::Cancel, "取消"},
    {Button::TryAgain, QMessageBox::Retry, "重试(&T)"}, {Button::Continue, QMessageBox::Ignore, "继续(&C)"},
    {Button::Yes, QMessageBox::Yes, "是(&Y)"},       {Button::No, QMessageBox::No, "否(&N)"},
};

const ButtonFace& faceOf(Button button) {
  return *std::find_if(std::begin(kButtonFaces), std::end(kButtonFaces),
                       [button](const ButtonFace& face) { return face.button == button; });
}

QMessageBox::Icon iconOf(Icon icon) {
  switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Error: return QMessageBox::Critical;
    case Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

Button escapeAnswer(const Question& question) {
  for (Button escape : {Button::Cancel, Button::No}) {
    if (std::find(question.buttons.begin(), question.buttons.end(), escape) != question.buttons.end()) return escape;
  }
  return question.defaultButton;
}

}  // namespace

void MessageBoxes::answerWithoutShowing(const std::string& id, Button answer) {
  std::lock_guard lock(mutex_);
  presets_[id] = answer;
}

void MessageBoxes::showAgain(const std::string& id) {
  std::lock_guard lock(mutex_);
  presets_.erase(id);
}

std::optional<Button> MessageBoxes::presetAnswer(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto found = presets_.find(id);
  if (found == presets_.end()) return std::nullopt;
  return found->second;
}

QMessageBox* makeMessageBox(const Question& question, QWidget* owner) {
  auto* box = new QMessageBox(iconOf(question.icon), QString::fromStdString(question.caption),
                              QString::fromStdString(question.text), QMessageBox::NoButton, owner);
  const std::vector<Button> buttons = question.buttons.empty() ? std::vector<Button>{Button::Ok} : question.buttons;
  for (Button button : buttons) {
    const ButtonFace& face = faceOf(button);
    box->addButton(face.standard)->setText(QString::fromUtf8(face.text));
    if (button == question.defaultButton) box->setDefaultButton(face.standard);
  }
  return box;
}

std::optional<Button> buttonOf(QMessageBox::StandardButton button) {
  for (const ButtonFace& face : kButtonFaces) {
    if (face.standard == button) return face.button;
  }
  return std::nullopt;
}

Button MessageBoxes::ask(const Question& question, QWidget* owner) {
  if (std::optional<Button> preset = presetAnswer(question.id)) return *preset;
  std::unique_ptr<QMessageBox> box(makeMessageBox(question, owner));
  const auto chosen = static_cast<QMessageBox::StandardButton>(box->exec());
  return buttonOf(chosen).value_or(escapeAnswer(question));
}

MessageBoxes& messageBoxes() {
  static MessageBoxes boxes;
  return boxes;
}

}  // namespace lumo::ui
