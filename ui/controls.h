// The three controls of the skinned windows. Each paints over the dialog's
// own background (the dialog composes its surface first), and none changes
// its own logical state on a click: the owner does that.
//
// Buttons, boxes and links take focus from the keyboard only (Tab), so a
// click never moves a ring; the focused one shows a ring in the skin's
// violet once the keyboard has moved focus in its window (the window's
// Qt::WA_KeyboardFocusChange), as desktops show focus only to keyboard
// users. Each has an accessible name, role and state (ui/accessibility.h).
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <array>

#include "ui/skin.h"

namespace lumo::ui {

// An image button, or a check box when it has a caption. It shows one of six
// images by state; the owner loads them, sets the caption and sets the
// checked flag.
class CPngButton : public QAbstractButton {
  Q_OBJECT
 public:
  enum Slot { Normal, Hover, Disabled, Checked, CheckedHover, CheckedDisabled, SlotCount };

  // Sized to `size`; `id` is the command id the owner knows it by.
  CPngButton(int id, QSize size, QWidget* parent);

  int id() const { return id_; }

  // Loads skin image `imageId` into `slot`, with its 2x art where the skin
  // has it; false when the 1x image is missing.
  bool loadImage(Slot slot, int imageId);
  void setImage(Slot slot, const QImage& image);
  const QImage& image(Slot slot) const { return images_[slot].x1; }
  // What a paint shows for `slot` on this widget's screen: the 2x art at a
  // device pixel ratio of 1.5 or more, where there is one.
  const QImage& art(Slot slot) const;

  // A non-empty caption makes the button a check box. The box grows to the
  // caption's line, so descenders are not cut (the box image stays 14 × 14).
  void setCaption(const QString& caption);
  const QString& caption() const { return caption_; }
  bool isCheckBox() const { return !caption_.isEmpty(); }

  // The checked flag belongs to the owner. It can only be set while all
  // three checked images are present, so a box never looks checked without
  // them; returns whether the flag now has the asked value.
  bool setCheckedFlag(bool checked);
  bool checkedFlag() const { return checked_; }
  bool hasCheckedImages() const;

  // Draws the caption in the alert colour while the box is unchecked.
  void setAlertWhenUnchecked(bool alert);
  bool hovering() const { return hovering_; }

  // The slot the current state shows (hover, checked, enabled).
  Slot chosenSlot() const;

  static constexpr QRgb kCaptionColour = 0xFF3C3C3C;
  static constexpr QRgb kAlertColour = 0xFFFF0000;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  const int id_;
  std::array<SkinArt, SlotCount> images_;
  QString caption_;
  bool checked_ = false;
  bool hovering_ = false;
  bool alertWhenUnchecked_ = false;
};

// A transparent text label with fixed colours. As a link it follows the
// mouse with its hover colour and reports clicks; made inactive it is red.
class CColorLabel : public QLabel {
  Q_OBJECT
 public:
  explicit CColorLabel(QWidget* parent, const QString& text = {});

  void setLink(bool link);
  bool isLink() const { return link_; }
  void setActive(bool active);
  bool isActive() const { return active_; }
  bool hovering() const { return hovering_; }
  void setUnderline();

  // The colour the text is drawn in now.
  QColor textColour() const;
  // The text as painted: cut on the right with "…" where it would not fit
  // the label's width (folders can be longer than any label).
  void setElidedText(const QString& text);

  static constexpr QRgb kNormalColour = 0xFF3C3C3C;
  static constexpr QRgb kHoverColour = 0xFF000000;
  static constexpr QRgb kInactiveColour = 0xFFFF0000;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool link_ = false;
  bool active_ = true;
  bool hovering_ = false;
  bool swallowRelease_ = false;  // the release that ends a double click
};

// A progress bar drawn from the fill image in three slices over the track
// that the dialog paints; the part right of the fill stays transparent.
class CLumoProgress : public QWidget {
  Q_OBJECT
 public:
  explicit CLumoProgress(QWidget* parent);

  void setMaximum(int maximum);
  int maximum() const { return maximum_; }
  void setPosition(int position);
  int position() const { return position_; }
  void setFillImage(const QImage& image);
  // What the bar is doing, in words (the status line): its accessible name.
  void setText(const QString& text) { text_ = text; }
  const QString& text() const { return text_; }

  // Width of the stretched middle slice: trunc(position / maximum × (W − 6)).
  int fillWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  SkinArt fill_;
  QString text_;
  int maximum_ = 0;
  int position_ = 0;
};

// Draws `image` into `target` as three slices: the 3-pixel caps in their own
// width and the middle stretched, as the track and the bar are drawn. The
// caps of 2x art are 6 image pixels wide, still 3 logical ones.
void drawThreeSlices(class QPainter& painter, const QImage& image, const QRect& target);

// Whether `control` shows its focus ring now: it has focus and the keyboard
// moved focus in its window.
bool showsFocusRing(const QWidget& control);
// The ring around `around` (logical pixels), inside the control.
void drawFocusRing(QPainter& painter, const QRectF& around);
inline constexpr QRgb kFocusRingColour = 0xFF6A3FB5;  // the banner's violet

}  // namespace lumo::ui
