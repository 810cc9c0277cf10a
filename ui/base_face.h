// The window side a flow sees (app/'s window interfaces), shown by the
// dialog base alone. The faces of the two modes take its place with their
// own controls; until then both modes show the base.
#pragma once

#include "app/dialog_contract.h"
#include "script/run_environment.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "ui/lumo_dialog.h"
#include "ui/qt_dialog_thread.h"

namespace lumo::ui {

template <typename Window>
class BaseFace final : public Window {
 public:
  BaseFace(CLumoDialog& dialog, QtDialogThread& thread) : dialog_(dialog), thread_(thread) {}

  void hide() override { dialog_.hide(); }
  bool isHidden() const override { return !dialog_.isVisible(); }
  void endDialog() override {
    dialog_.hide();
    thread_.quit();
  }
  void setProgress(int position, const std::string&) override {
    // The bar belongs to a working run: it shows with the first message.
    dialog_.setProgressBarVisible(true);
    dialog_.showProgress(position);
  }
  void showBalloon(const std::string& title, const std::string& text) override {
    debugOutput("Balloon: " + title + ": " + text + "\n");
  }
  void associationsChanged() override { refreshDesktopDatabase(runEnvironment().smPrograms); }

 private:
  CLumoDialog& dialog_;
  QtDialogThread& thread_;
};

}  // namespace lumo::ui
