// The window side a flow sees (app/'s window interfaces), shown by the
// dialog base alone. The faces of the two modes take its place with their
// own controls; until then both modes show the base.
#pragma once

#include "app/orchestration.h"
#include "app/run_environment.h"
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
  void setProgress(int position) override {
    // The bar belongs to a working run: it shows with the first message.
    dialog_.setProgressBarVisible(true);
    dialog_.showProgress(position);
  }
  void associationsChanged() override { refreshDesktopDatabase(runEnvironment().smPrograms); }

 private:
  CLumoDialog& dialog_;
  QtDialogThread& thread_;
};

}  // namespace lumo::ui
