#include "ui/lumo_dialog.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include "app/startup.h"
#include "script/host.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

// Geometry of the image table, used where an image is missing so that the
// others keep their places.
constexpr int kBannerHeight = 161;
constexpr int kEdgeWidth = 5;
constexpr QRect kProgressRect(50, 230, 440, 18);
constexpr QRect kStatusRect(135, 205, 220, 20);
constexpr QRect kPercentageRect(345, 205, 50, 20);

int widthOr(const QImage& image, int fallback) { return image.isNull() ? fallback : image.width(); }

}  // namespace

CLumoDialog::CLumoDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint) {
  // Every paint covers the whole surface: nothing to erase, nothing flickers.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setWindowTitle(QString::fromUtf8(kInstallerCaption.data(), static_cast<qsizetype>(kInstallerCaption.size())));
  setFont(interfaceFont());

  LoadPngResource(skin::kBodyLeft, bodyLeft_);
  LoadPngResource(skin::kBodyMiddle, bodyMiddle_);
  LoadPngResource(skin::kBodyRight, bodyRight_);
  LoadPngResource(skin::kBanner, banner_);
  LoadPngResource(skin::kBannerWorking, bannerWorking_);
  LoadPngResource(skin::kProgressTrack, track_);
  LoadPngResource(skin::kRecommendedCaption, recommendedCaption_);

  progress_ = new CLumoProgress(this);
  progress_->setMaximum(100);
  progress_->setGeometry(kProgressRect);
  progress_->hide();
  status_ = new CColorLabel(this);
  status_->setGeometry(kStatusRect);
  percentage_ = new CColorLabel(this);
  percentage_->setGeometry(kPercentageRect);
  percentage_->hide();

  close_ = new CPngButton(kCloseId, QSize(35, 23), this);
  close_->loadImage(CPngButton::Normal, skin::kCloseNormal);
  close_->loadImage(CPngButton::Hover, skin::kCloseHover);
  close_->loadImage(CPngButton::Disabled, skin::kCloseDisabled);
  close_->move(kWidth - close_->width(), 0);
  minimise_ = new CPngButton(kMinimiseId, QSize(31, 23), this);
  minimise_->loadImage(CPngButton::Normal, skin::kMinimiseNormal);
  minimise_->loadImage(CPngButton::Hover, skin::kMinimiseHover);
  minimise_->loadImage(CPngButton::Disabled, skin::kMinimiseNormal);
  minimise_->move(kWidth - minimise_->width() - close_->width(), 0);
  connect(close_, &QAbstractButton::clicked, this, [this] { emit closeRequested(); });
  connect(minimise_, &QAbstractButton::clicked, this, [this] { showMinimized(); });

  setFixedSize(kWidth, kHeight);
}

void CLumoDialog::showProgress(int position) {
  progress_->setPosition(position);
  if (position < 100) {
    percentage_->setText(QStringLiteral("(%1%) ...").arg(position));
    percentage_->show();
  } else {
    percentage_->hide();
  }
}

void CLumoDialog::setProgressBarVisible(bool visible) {
  progress_->setVisible(visible);
  update();
}

void CLumoDialog::setRecommendedCaption(QWidget* anchor) {
  recommendedAnchor_ = anchor;
  update();
}

const QImage& CLumoDialog::composeSurface() {
  const int w = width();
  const int h = height();
  if (backBuffer_.size() != QSize(w, h)) backBuffer_ = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
  backBuffer_.fill(Qt::transparent);
  QPainter painter(&backBuffer_);
  painter.setRenderHint(QPainter::Antialiasing);

  // The whole width and height are covered: the body reaches the bottom row
  // and the right column, so no stripe of stale pixels shows at the edges.
  const QImage& banner = !progress_->isHidden() ? bannerWorking_ : banner_;
  const int bannerHeight = banner_.isNull() ? kBannerHeight : banner_.height();
  if (!banner.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, banner.width() != w);
    painter.drawImage(QRect(0, 0, w, bannerHeight), banner);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
  const int bodyHeight = h - bannerHeight;
  const int leftWidth = widthOr(bodyLeft_, kEdgeWidth);
  const int rightWidth = widthOr(bodyRight_, kEdgeWidth);
  if (!bodyLeft_.isNull()) painter.drawImage(QRect(0, bannerHeight, leftWidth, bodyHeight), bodyLeft_);
  if (!bodyMiddle_.isNull()) {
    painter.drawImage(QRect(leftWidth, bannerHeight, w - leftWidth - rightWidth, bodyHeight), bodyMiddle_);
  }
  if (!bodyRight_.isNull()) painter.drawImage(QRect(w - rightWidth, bannerHeight, rightWidth, bodyHeight), bodyRight_);

  if (!progress_->isHidden() && !track_.isNull()) drawThreeSlices(painter, track_, progress_->geometry());
  if (recommendedAnchor_ && !recommendedCaption_.isNull()) {
    painter.drawImage(recommendedAnchor_->geometry().topLeft() + QPoint(0, 2), recommendedCaption_);
  }
  return backBuffer_;
}

void CLumoDialog::paintEvent(QPaintEvent*) {
  const QImage& surface = composeSurface();
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(0, 0, surface);
}

void CLumoDialog::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A real window region, not transparency: the corners show the desktop on
  // any X server, with or without a compositor.
  QBitmap shape(size());
  shape.fill(Qt::color0);
  QPainter painter(&shape);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::color1);
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, width(), height()), kCornerEllipse / 2.0, kCornerEllipse / 2.0);
  painter.drawPath(path);
  painter.end();
  setMask(shape);
}

void CLumoDialog::mousePressEvent(QMouseEvent* event) {
  // Children that take their presses never get here; a press anywhere else
  // on the surface moves the window.
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  moving_ = true;
  manualMove_ = !(windowHandle() && windowHandle()->startSystemMove());
  moveOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CLumoDialog::mouseMoveEvent(QMouseEvent* event) {
  // Where the window system refuses to move the window, it follows the
  // pointer by hand.
  if (manualMove_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - moveOffset_);
  QWidget::mouseMoveEvent(event);
}

void CLumoDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) moving_ = manualMove_ = false;
  QWidget::mouseReleaseEvent(event);
}

void CLumoDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit closeRequested();
}

}  // namespace lumo::ui
