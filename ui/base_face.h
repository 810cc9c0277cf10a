// The window side a flow sees (app/'s window interfaces): what the dialog
// base shows for every window, and the base alone.
#pragma once

#include "app/dialog_contract.h"
#include "script/run_environment.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "ui/lumo_dialog.h"
#include "ui/qt_dialog_thread.h"

namespace lumo::ui {

// What every window shows the same way: hiding, ending the dialog, the bar's
// position and the desktop's notice. The faces of the two modes add their
// pages to it.
template <typename Window>
class DialogFace : public Window {
 public:
  DialogFace(CLumoDialog& dialog, QtDialogThread& thread) : dialog_(dialog), thread_(thread) {}

  void hide() override { dialog_.hide(); }
  bool isHidden() const override { return !dialog_.isVisible(); }
  void endDialog() override {
    dialog_.hide();
    thread_.quit();
  }
  void setProgress(int position, const std::string&) override { dialog_.showProgress(position); }
  void associationsChanged() override { refreshDesktopDatabase(runEnvironment().smPrograms); }

 protected:
  CLumoDialog& dialog_;

 private:
  QtDialogThread& thread_;
};

// The dialog base alone, without the controls of a mode.
template <typename Window>
class BaseFace final : public DialogFace<Window> {
 public:
  using DialogFace<Window>::DialogFace;

  void setProgress(int position, const std::string& text) override {
    // The bar belongs to a working run: it shows with the first message.
    this->dialog_.setProgressBarVisible(true);
    DialogFace<Window>::setProgress(position, text);
  }
  void showBalloon(const std::string& title, const std::string& text) override {
    debugOutput("Balloon: " + title + ": " + text + "\n");
  }
};

}  // namespace lumo::ui
