// The skinned dialog base of both windows: a frameless 540 × 377 window with
// rounded corners whose whole surface is painted from the skin's images, with
// the minimise and close buttons, the progress bar, the status line and the
// percentage line. It shows state; the flows in app/ decide what happens.
//
// A window of a mode derives from it, places its own controls in its
// constructor (images come from the skin by id: CPngButton::loadImage), and
// connects closeRequested() to its flow.
//
// The keyboard works the same in every window: Tab and Shift+Tab go through
// the visible controls in reading order, Space presses the focused button
// or toggles the focused box, Return presses the face's main button
// (mainButton()) wherever the focus is, except on a link, which it opens,
// and Esc does what the close button does (nothing while it is disabled).
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "ui/controls.h"

namespace lumo::ui {

class CLumoDialog : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 540;
  static constexpr int kHeight = 377;
  static constexpr int kCornerEllipse = 6;  // the corners are 6 × 6 ellipses

  // Command ids of the base's controls.
  static constexpr int kMinimiseId = 1050;
  static constexpr int kCloseId = 1051;

  explicit CLumoDialog(QWidget* parent = nullptr);

  // The progress message as the window shows it: the bar at `position`
  // (0..100) and the percentage line "(N%) ...", which goes away at 100.
  void showProgress(int position);
  // The working banner shows while the bar is visible.
  void setProgressBarVisible(bool visible);

  // Paints skin image 1052 at `anchor`'s place (two pixels lower) instead of
  // the text of that label; nullptr stops it.
  void setRecommendedCaption(QWidget* anchor);

  // The whole background in one pass, in layer order: banner, body edges
  // and middle, progress track, recommended caption. Children paint over it.
  const QImage& composeSurface();

  CLumoProgress& progressBar() { return *progress_; }
  CColorLabel& statusLabel() { return *status_; }
  CColorLabel& percentageLabel() { return *percentage_; }
  CPngButton& minimiseButton() { return *minimise_; }
  CPngButton& closeButton() { return *close_; }

  // A press on the surface (not on a child) started moving the window.
  bool moving() const { return moving_; }
  // Whether that move follows the pointer by hand (the window system
  // refused its own move, and lets windows place themselves).
  bool movingByHand() const { return manualMove_; }

  // The face's main button (install, start now, open the installed
  // version, uninstall, OK), or nullptr: the one Return presses.
  virtual QAbstractButton* mainButton() { return nullptr; }
  // Puts the focus on the main button, or on the window where there is
  // none to press, so Esc still reaches it.
  void focusMainButton();
  // The controls Tab goes through now, in reading order.
  QList<QWidget*> tabChain() const;

  // Whether the window system lets a program place its windows (X11 does,
  // Wayland does not: the compositor places them and moves them itself).
  static bool windowSystemPlacesWindows();
  // Centres the window on the primary screen where windows can be placed.
  void centreOnScreen();

 signals:
  // The close button, or the window system asked the window to close. What
  // closing means is the flow's decision; the window stays until told.
  void closeRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  SkinArt bodyLeft_, bodyMiddle_, bodyRight_, banner_, bannerWorking_, track_, recommendedCaption_;
  CPngButton* minimise_;
  CPngButton* close_;
  CLumoProgress* progress_;
  CColorLabel* status_;
  CColorLabel* percentage_;
  QPointer<QWidget> recommendedAnchor_;
  QImage backBuffer_;
  bool moving_ = false;
  bool manualMove_ = false;
  QPoint moveOffset_;  // manual moves: pointer position within the window
};

}  // namespace lumo::ui
