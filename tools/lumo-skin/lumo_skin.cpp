// lumo-skin: draws the skin of the installer's windows and its program icon.
//
//   lumo-skin OUTDIR          OUTDIR/ID.png for every image id of the skin, its
//                             2x art OUTDIR/ID@2x.png (twice the size, for
//                             screens at a device pixel ratio of 1.5 or more)
//                             and OUTDIR/icon.ico, the program icon (PNG
//                             entries of 256, 128, 96, 48, 32 and 16 pixels)
//   lumo-skin --sheet FILE    a contact sheet: the faces of both windows put
//                             together from the images, then every image at 100 %
//   lumo-skin --theme FILE OUTDIR   the same images in the look of a theme file
//                             (UTF-8 INI: name, tagline, colours, the mark)
//
// Everything that decides the look, every colour, size and caption and which
// image is which face, sits in the tables at the top of this file: a restyle
// is an edit there. The captions are set in the interface font (WenQuanYi
// Micro Hei, the installed stand-in for "微软雅黑"); without it the program
// refuses to draw. It runs on Qt's offscreen platform: no display is needed.
//
// Everything is drawn with anti-aliasing in logical pixels, once at 1x and
// once at 2x (an image whose device pixel ratio is the scale, so the same
// drawing lands on twice the pixels); rectangles sit on whole pixels and
// 1-pixel lines on pixel centres, so the edges stay crisp at both scales. The output depends only on this file
// and the font, so builds are repeatable.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// ------------------------------------------------------------------ the look

constexpr QRgb rgb(unsigned value) { return 0xFF000000u | value; }

struct ButtonShape {
  int left, top, right, bottom;  // transparent margin around the face (room for its shadow)
  int radius;
  int captionPx;
  int shadowBlur, shadowDrop, shadowAlpha;
};

struct Look {
  const char* fontFamily = "WenQuanYi Micro Hei";

  // Banner: an indigo to violet sweep with a warm glow at the top right.
  QRgb bannerFrom = rgb(0x2B2D6E);
  QRgb bannerTo = rgb(0x6A3FB5);
  QRgb bannerGlow = rgb(0xC86BD6);
  int bannerGlowAlpha = 80;
  int bannerRingAlpha = 16;
  int nameGlowAlpha = 22;  // a soft light behind the name, like a lit screen
  const char* productName = "Vexta影音";
  int productNamePx = 28;
  const char* tagline = "高清流畅 · 轻松观影";
  int taglinePx = 13;
  int taglineAlpha = 170;
  int taglineBelow = 34;  // from the middle of the name to the middle of the tagline
  const char* mark = "play";  // beside the name: "play", "none" or a short text
  int markHeight = 24;  // the play triangle beside the name
  int markGap = 12;
  double markRound = 2.5;
  int nameCentreY = 72;  // middle of the name's ink; the body starts at 161

  // Working banner: the same banner darker, with a streak running along it.
  int workingDarken = 34;  // per cent of black over the banner
  int streakY = 138;       // top row of the 2-pixel streak
  int streakHeadX = 392;   // where the streak is brightest
  int streakGlowBlur = 5;
  int streakRailAlpha = 22;

  QRgb accent = rgb(0xFF6B5A);  // warm coral: the main buttons, ticks, fill
  QRgb white = rgb(0xFFFFFF);
  QRgb black = rgb(0x000000);
  QRgb body = rgb(0xF7F7FA);
  QRgb hairline = rgb(0xDCDCE4);
  QRgb text = rgb(0x3C3C3C);  // RGB(60,60,60), as the controls define it
  int bodyShadeRows = 3;      // soft shade under the banner
  int bodyShadeAlpha = 16;

  // States: hover a little lighter, pressed or checked a little darker.
  int hoverLighten = 9;  // per cent of white
  int checkedDarken = 9;  // per cent of black
  int secondaryHoverLighten = 60;
  int buttonHighlightAlpha = 60;  // the 1-pixel light along a coral face's top
  QRgb busyFace = rgb(0xD98A80);  // the install button while installing
  QRgb secondaryFace = rgb(0xEDEDF2);
  QRgb secondaryBorder = rgb(0xD3D3DC);
  QRgb disabledFace = rgb(0xE4E4EA);
  QRgb disabledBorder = rgb(0xD6D6DE);
  QRgb disabledText = rgb(0x9696A0);

  ButtonShape large{6, 5, 6, 9, 4, 20, 4, 3, 90};  // the 200 x 65 faces
  ButtonShape small{3, 2, 3, 5, 4, 15, 2, 2, 60};  // the 112 x 40 faces

  // Window buttons on the banner.
  int glyphSize = 9;  // close cross and minimise bar, in pixels
  double closeStroke = 1.3;
  int glyphAlpha = 235;
  int glyphDisabledAlpha = 90;
  QRgb closeHover = rgb(0xE5534B);
  int closeHoverAlpha = 225;
  int minimiseHoverAlpha = 34;  // white over the banner

  // Tick boxes.
  int boxRadius = 2;
  QRgb boxFace = rgb(0xFFFFFF);
  QRgb boxBorder = rgb(0xB4B4C2);
  QRgb boxHoverBorder = rgb(0xE9A59C);
  QRgb boxCheckedFace = rgb(0xFFF1EF);
  double tickWidth = 1.7;

  // Progress: a thin grey track with round ends, the coral fill inside it.
  QRgb track = rgb(0xE4E4EC);
  QRgb trackShade = rgb(0xD4D4DE);
  int trackTop = 4, trackBottom = 14;  // rows of the 18-pixel image the track covers
  int fillTop = 4, fillBottom = 13;    // rows of the 17-pixel image the fill covers
  int barRadius = 3;
  int fillHighlightAlpha = 90;

  // The caption image of the recommended-software row.
  const char* recommendedCaption = "安装精品软件:";
  int recommendedPx = 12;

  // Program icon.
  QRgb iconFrom = rgb(0x34367E);
  QRgb iconTo = rgb(0x7A48C4);
  double iconCorner = 0.23;  // corner radius, share of the side
  double iconMargin = 0.06;
};

// The look in use: the built-in one, or a theme's (see applyTheme), set
// before anything is drawn.
Look gTheme;
constexpr const Look& kLook = gTheme;

// "打开" + the product's name; a theme rewrites it in place.
char gOpenProductCaption[256] = "打开Vexta影音";

struct Captions {
  const char* install = "立即安装";
  const char* installing = "正在安装";
  const char* runProduct = "立即体验";
  const char* openProduct = gOpenProductCaption;
  const char* uninstall = "卸载";
  const char* cancel = "取消";
  const char* ok = "完成";
};

constexpr Captions kCaption;

// ------------------------------------------------------------ the images

enum class Face {
  BodyLeft, BodyMiddle, BodyRight, Banner, WorkingBanner,
  PrimaryButton, SecondaryButton, Close, Minimise, Track, Fill, TickBox, Spare, RecommendedCaption,
};

enum class State { Normal, Hover, Disabled, Checked, CheckedHover, CheckedDisabled };

struct SkinImage {
  int id;
  int width, height;
  Face face;
  State state = State::Normal;
  const char* caption = nullptr;
  const ButtonShape* shape = nullptr;  // buttons only
};

constexpr SkinImage kImages[] = {
    {1020, 5, 215, Face::BodyLeft},
    {1021, 2, 215, Face::BodyMiddle},
    {1022, 5, 215, Face::BodyRight},
    {1023, 540, 161, Face::Banner},
    {1024, 540, 161, Face::WorkingBanner},
    {1025, 200, 65, Face::PrimaryButton, State::CheckedDisabled, kCaption.installing, &kLook.large},
    {1026, 200, 65, Face::PrimaryButton, State::Hover, kCaption.install, &kLook.large},
    {1027, 200, 65, Face::PrimaryButton, State::Normal, kCaption.install, &kLook.large},
    {1028, 35, 23, Face::Close, State::Normal},
    {1029, 35, 23, Face::Close, State::Hover},
    {1030, 31, 23, Face::Minimise, State::Normal},
    {1031, 31, 23, Face::Minimise, State::Hover},
    {1032, 112, 40, Face::PrimaryButton, State::Normal, kCaption.uninstall, &kLook.small},
    {1033, 112, 40, Face::PrimaryButton, State::Hover, kCaption.uninstall, &kLook.small},
    {1034, 112, 40, Face::SecondaryButton, State::Normal, kCaption.cancel, &kLook.small},
    {1035, 112, 40, Face::SecondaryButton, State::Hover, kCaption.cancel, &kLook.small},
    {1036, 100, 18, Face::Track},
    {1037, 100, 17, Face::Fill},
    {1038, 112, 40, Face::PrimaryButton, State::Normal, kCaption.ok, &kLook.small},
    {1039, 112, 40, Face::PrimaryButton, State::Hover, kCaption.ok, &kLook.small},
    {1040, 200, 65, Face::PrimaryButton, State::Checked, kCaption.runProduct, &kLook.large},
    {1041, 200, 65, Face::PrimaryButton, State::CheckedHover, kCaption.runProduct, &kLook.large},
    {1042, 14, 14, Face::TickBox, State::Normal},
    {1043, 14, 14, Face::TickBox, State::Checked},
    {1044, 14, 14, Face::TickBox, State::Hover},
    {1045, 14, 14, Face::TickBox, State::CheckedHover},
    {1046, 20, 14, Face::Spare},
    {1052, 85, 13, Face::RecommendedCaption},
    {1053, 200, 65, Face::PrimaryButton, State::Disabled, kCaption.install, &kLook.large},
    {1054, 35, 23, Face::Close, State::Disabled},
    {1056, 200, 65, Face::PrimaryButton, State::Normal, kCaption.openProduct, &kLook.large},
    {1057, 200, 65, Face::PrimaryButton, State::Hover, kCaption.openProduct, &kLook.large},
};

constexpr int kIconSizes[] = {256, 128, 96, 48, 32, 16};

// ------------------------------------------------------------ drawing aids

QColor colour(QRgb value, int alpha = 255) {
  QColor c = QColor::fromRgb(value);
  c.setAlpha(alpha);
  return c;
}

// `percent` of `over` laid on `base`.
QRgb mix(QRgb base, QRgb over, int percent) {
  auto channel = [&](int a, int b) { return (a * (100 - percent) + b * percent + 50) / 100; };
  return qRgb(channel(qRed(base), qRed(over)), channel(qGreen(base), qGreen(over)),
              channel(qBlue(base), qBlue(over)));
}

// A transparent image of `width` × `height` logical pixels at `scale`.
QImage canvas(int width, int height, int scale = 1) {
  QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  return image;
}

int scaleOf(const QImage& image) { return qRound(image.devicePixelRatio()); }
int logicalWidth(const QImage& image) { return image.width() / scaleOf(image); }
int logicalHeight(const QImage& image) { return image.height() / scaleOf(image); }
QImage canvasLike(const QImage& image) { return canvas(logicalWidth(image), logicalHeight(image), scaleOf(image)); }

void smooth(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// Box blur, three passes each way: close enough to a gaussian for shadows
// and glows, in integers so every build gives the same bytes.
// `radius` is in logical pixels.
QImage blurred(const QImage& source, int radius) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(source.devicePixelRatio());
  radius *= scaleOf(source);
  if (radius <= 0) return image;
  const int w = image.width(), h = image.height(), span = 2 * radius + 1;
  std::vector<QRgb> line;
  auto pass = [&](bool horizontal) {
    const int count = horizontal ? h : w, length = horizontal ? w : h;
    line.resize(length);
    for (int n = 0; n < count; ++n) {
      auto at = [&](int i) -> QRgb& {
        return reinterpret_cast<QRgb*>(image.scanLine(horizontal ? n : i))[horizontal ? i : n];
      };
      for (int i = 0; i < length; ++i) line[i] = at(i);
      for (int i = 0; i < length; ++i) {
        int sum[4] = {0, 0, 0, 0};
        for (int k = i - radius; k <= i + radius; ++k) {
          if (k < 0 || k >= length) continue;
          QRgb v = line[k];
          sum[0] += qAlpha(v), sum[1] += qRed(v), sum[2] += qGreen(v), sum[3] += qBlue(v);
        }
        at(i) = qRgba(sum[1] / span, sum[2] / span, sum[3] / span, sum[0] / span);
      }
    }
  };
  for (int round = 0; round < 3; ++round) {
    pass(true);
    pass(false);
  }
  return image;
}

QFont interfaceFont(int pixelSize) {
  QFont font(QString::fromUtf8(kLook.fontFamily));
  font.setPixelSize(pixelSize);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// Text whose ink is centred on `centre`, placed on whole pixels.
void drawCentredText(QPainter& p, const QString& text, const QFont& font, QPointF centre, QColor ink) {
  QFontMetricsF metrics(font);
  QRectF inkBox = metrics.tightBoundingRect(text);
  double x = std::round(centre.x() - inkBox.width() / 2 - inkBox.left());
  double y = std::round(centre.y() - inkBox.height() / 2 - inkBox.top());
  p.setFont(font);
  p.setPen(ink);
  p.drawText(QPointF(x, y), text);
}

// A play triangle pointing right, `height` tall, its left edge at `left`,
// its middle at `middleY`, corners rounded by `round` pixels.
void drawPlayMark(QPainter& p, double left, double middleY, double height, double round, QColor fill) {
  const double width = height * 0.92;
  QPolygonF inner;
  inner << QPointF(left + round * 1.2, middleY - height / 2 + round * 1.6)
        << QPointF(left + width - round * 1.9, middleY) << QPointF(left + round * 1.2, middleY + height / 2 - round * 1.6);
  p.setPen(QPen(fill, 2 * round, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(fill);
  p.drawPolygon(inner);
}

// ------------------------------------------------------------ the faces

void drawBanner(QImage& image, bool working) {
  const int w = logicalWidth(image), h = logicalHeight(image);
  QPainter p(&image);
  smooth(p);

  QLinearGradient sweep(0, 0, w, h);
  sweep.setColorAt(0, colour(kLook.bannerFrom));
  sweep.setColorAt(1, colour(kLook.bannerTo));
  p.fillRect(image.rect(), sweep);

  QRadialGradient glow(QPointF(w * 0.84, -h * 0.15), w * 0.5);
  glow.setColorAt(0, colour(kLook.bannerGlow, kLook.bannerGlowAlpha));
  glow.setColorAt(1, colour(kLook.bannerGlow, 0));
  p.fillRect(image.rect(), glow);

  // Two faint rings, a lens seen from the side.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(colour(kLook.white, kLook.bannerRingAlpha), 1));
  p.drawEllipse(QPointF(w * 0.88, h * 1.02), 96.5, 96.5);
  p.drawEllipse(QPointF(w * 0.88, h * 1.02), 150.5, 150.5);
  p.drawEllipse(QPointF(w * 0.08, -h * 0.1), 70.5, 70.5);

  const double reach = w * 0.36;
  QRadialGradient light(QPointF(0, 0), reach);
  light.setColorAt(0, colour(kLook.white, kLook.nameGlowAlpha));
  light.setColorAt(1, colour(kLook.white, 0));
  p.save();
  p.translate(w / 2.0, kLook.nameCentreY + 8);
  p.scale(1, 0.45);  // a wide, flat light
  p.fillRect(QRectF(-reach, -reach, 2 * reach, 2 * reach), light);
  p.restore();

  if (working) p.fillRect(image.rect(), colour(kLook.black, kLook.workingDarken * 255 / 100));

  // The mark and the name, centred together.
  QFont nameFont = interfaceFont(kLook.productNamePx);
  nameFont.setWeight(QFont::Bold);
  const QString name = QString::fromUtf8(kLook.productName);
  QFontMetricsF metrics(nameFont);
  QRectF ink = metrics.tightBoundingRect(name);
  const QString mark = QString::fromUtf8(kLook.mark);
  const bool play = mark == "play";
  QFont markFont = nameFont;
  const double markWidth = play ? kLook.markHeight * 0.92
                           : mark == "none" ? -kLook.markGap
                                            : QFontMetricsF(markFont).tightBoundingRect(mark).width();
  const double total = markWidth + kLook.markGap + ink.width();
  const double left = std::round((w - total) / 2);
  if (play) {
    drawPlayMark(p, left, kLook.nameCentreY, kLook.markHeight, kLook.markRound, colour(kLook.accent));
  } else if (mark != "none") {
    drawCentredText(p, mark, markFont, QPointF(left + markWidth / 2, kLook.nameCentreY), colour(kLook.accent));
  }
  drawCentredText(p, name, nameFont, QPointF(left + markWidth + kLook.markGap + ink.width() / 2, kLook.nameCentreY),
                  colour(kLook.white));
  drawCentredText(p, QString::fromUtf8(kLook.tagline), interfaceFont(kLook.taglinePx),
                  QPointF(w / 2.0, kLook.nameCentreY + kLook.taglineBelow), colour(kLook.white, kLook.taglineAlpha));

  if (!working) return;
  // The streak: a faint rail across the banner and a bright head with its glow.
  p.fillRect(QRect(0, kLook.streakY, w, 2), colour(kLook.white, kLook.streakRailAlpha));
  QImage streak = canvasLike(image);
  {
    QPainter s(&streak);
    QLinearGradient run(0, 0, w, 0);
    const double head = double(kLook.streakHeadX) / w;
    run.setColorAt(0, colour(kLook.accent, 0));
    run.setColorAt(head * 0.45, colour(kLook.accent, 40));
    run.setColorAt(head - 0.02, colour(kLook.accent, 235));
    run.setColorAt(head, colour(kLook.white, 255));
    run.setColorAt(head + 0.012, colour(kLook.white, 0));
    run.setColorAt(1, colour(kLook.white, 0));
    s.fillRect(QRect(0, kLook.streakY, w, 2), run);
  }
  p.drawImage(0, 0, blurred(streak, kLook.streakGlowBlur));
  p.drawImage(0, 0, blurred(streak, kLook.streakGlowBlur / 2));
  p.drawImage(0, 0, streak);
}

// The body below the banner: near-white, a soft shade under the banner, a
// hairline along the bottom and the outer sides. Every column of the middle
// is alike, so it tiles and flips without a seam.
QRgb bodyRow(int y, int height) {
  if (y == height - 1) return kLook.hairline;
  if (y < kLook.bodyShadeRows)
    return mix(kLook.body, kLook.black, kLook.bodyShadeAlpha * (kLook.bodyShadeRows - y) / kLook.bodyShadeRows / 10);
  return kLook.body;
}

void drawBody(QImage& image, int hairlineColumn) {
  const int scale = scaleOf(image);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, x / scale == hairlineColumn ? kLook.hairline : bodyRow(y / scale, logicalHeight(image)));
}

QRgb buttonFace(bool primary, State state) {
  const QRgb base = primary ? kLook.accent : kLook.secondaryFace;
  switch (state) {
    case State::Normal: return base;
    case State::Hover: return mix(base, kLook.white, primary ? kLook.hoverLighten : kLook.secondaryHoverLighten);
    case State::Checked: return mix(base, kLook.black, kLook.checkedDarken);
    case State::CheckedHover: return mix(mix(base, kLook.black, kLook.checkedDarken), kLook.white, kLook.hoverLighten);
    case State::CheckedDisabled: return kLook.busyFace;
    case State::Disabled: return kLook.disabledFace;
  }
  return base;
}

void drawButton(QImage& image, const ButtonShape& shape, bool primary, State state, const char* caption) {
  const bool greyed = state == State::Disabled;
  const bool flat = greyed || state == State::CheckedDisabled;
  const QRectF face(shape.left, shape.top, logicalWidth(image) - shape.left - shape.right,
                    logicalHeight(image) - shape.top - shape.bottom);
  QPainterPath outline;
  outline.addRoundedRect(face, shape.radius, shape.radius);

  QPainter p(&image);
  smooth(p);
  if (!flat) {
    QImage shadow = canvasLike(image);
    QPainter s(&shadow);
    smooth(s);
    s.fillPath(outline.translated(0, shape.shadowDrop),
               colour(primary ? kLook.accent : kLook.text, primary ? shape.shadowAlpha : shape.shadowAlpha / 3));
    s.end();
    p.drawImage(0, 0, blurred(shadow, shape.shadowBlur));
  }

  const QRgb fill = buttonFace(primary, state);
  QLinearGradient shine(0, face.top(), 0, face.bottom());
  shine.setColorAt(0, colour(mix(fill, kLook.white, flat ? 0 : 7)));
  shine.setColorAt(1, colour(mix(fill, kLook.black, flat ? 0 : 4)));
  p.fillPath(outline, shine);

  if (greyed || !primary) {
    p.setPen(QPen(colour(greyed ? kLook.disabledBorder : kLook.secondaryBorder), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(face.adjusted(0.5, 0.5, -0.5, -0.5), shape.radius - 0.5, shape.radius - 0.5);
  } else if (!flat) {
    p.save();
    p.setClipPath(outline);
    p.fillRect(QRectF(face.left(), face.top(), face.width(), 1), colour(kLook.white, kLook.buttonHighlightAlpha));
    p.restore();
  }

  const QColor ink = greyed ? colour(kLook.disabledText) : primary ? colour(kLook.white) : colour(kLook.text);
  drawCentredText(p, QString::fromUtf8(caption), interfaceFont(shape.captionPx), face.center(), ink);
}

void drawCloseGlyph(QImage& image, State state) {
  QPainter p(&image);
  smooth(p);
  if (state == State::Hover) p.fillRect(image.rect(), colour(kLook.closeHover, kLook.closeHoverAlpha));
  const double half = (kLook.glyphSize - 1) / 2.0;  // ends on pixel centres
  const QPointF centre(logicalWidth(image) / 2.0, logicalHeight(image) / 2.0);
  p.setPen(QPen(colour(kLook.white, state == State::Disabled ? kLook.glyphDisabledAlpha : kLook.glyphAlpha), kLook.closeStroke,
                Qt::SolidLine, Qt::FlatCap));
  p.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
  p.drawLine(centre + QPointF(-half, half), centre + QPointF(half, -half));
}

void drawMinimiseGlyph(QImage& image, State state) {
  QPainter p(&image);
  if (state == State::Hover) p.fillRect(image.rect(), colour(kLook.white, kLook.minimiseHoverAlpha));
  const int left = (logicalWidth(image) - kLook.glyphSize) / 2;
  p.fillRect(QRect(left, logicalHeight(image) / 2, kLook.glyphSize, 1), colour(kLook.white, kLook.glyphAlpha));
}

// Track and fill are drawn in three slices with 3-pixel ends: the rounded
// ends live in the outer 3 columns, and every middle column is alike.
void drawBar(QImage& image, int top, int bottom, bool fill) {
  QPainter p(&image);
  smooth(p);
  const QRectF bar(0, top, logicalWidth(image), bottom - top);
  QPainterPath outline;
  outline.addRoundedRect(bar, kLook.barRadius, kLook.barRadius);
  QLinearGradient body(0, bar.top(), 0, bar.bottom());
  if (fill) {
    body.setColorAt(0, colour(mix(kLook.accent, kLook.white, 14)));
    body.setColorAt(1, colour(mix(kLook.accent, kLook.black, 6)));
  } else {
    body.setColorAt(0, colour(kLook.trackShade));
    body.setColorAt(0.3, colour(kLook.track));
    body.setColorAt(1, colour(kLook.track));
  }
  p.fillPath(outline, body);
  if (fill) {
    p.setClipPath(outline);
    p.fillRect(QRectF(0, top + 1, logicalWidth(image), 1), colour(kLook.white, kLook.fillHighlightAlpha));
  }
}

void drawTickBox(QImage& image, State state) {
  QPainter p(&image);
  smooth(p);
  const bool checked = state == State::Checked || state == State::CheckedHover;
  const bool hover = state == State::Hover || state == State::CheckedHover;
  QRgb border = hover ? kLook.boxHoverBorder : kLook.boxBorder;
  if (checked) border = hover ? mix(kLook.accent, kLook.black, kLook.checkedDarken) : kLook.accent;
  const QRgb face = checked ? (hover ? mix(kLook.boxCheckedFace, kLook.accent, 8) : kLook.boxCheckedFace) : kLook.boxFace;
  p.setPen(QPen(colour(border), 1));
  p.setBrush(colour(face));
  p.drawRoundedRect(QRectF(0.5, 0.5, logicalWidth(image) - 1, logicalHeight(image) - 1), kLook.boxRadius,
                    kLook.boxRadius);
  if (!checked) return;
  QPainterPath tick;
  tick.moveTo(3.4, 7.1);
  tick.lineTo(5.9, 9.6);
  tick.lineTo(10.6, 4.4);
  p.setPen(QPen(colour(border), kLook.tickWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tick);
}

void drawRecommendedCaption(QImage& image) {
  QPainter p(&image);
  smooth(p);
  p.fillRect(QRect(0, 1, 2, logicalHeight(image) - 2), colour(kLook.accent));
  const QFont font = interfaceFont(kLook.recommendedPx);
  const QString text = QString::fromUtf8(kLook.recommendedCaption);
  QFontMetricsF metrics(font);
  QRectF ink = metrics.tightBoundingRect(text);
  drawCentredText(p, text, font, QPointF(6 + ink.width() / 2, logicalHeight(image) / 2.0), colour(kLook.text));
}

// Nothing draws image 1046; it carries a small neutral tag so that it is a
// real image all the same.
void drawSpare(QImage& image) {
  QPainter p(&image);
  smooth(p);
  p.setPen(QPen(colour(kLook.hairline), 1));
  p.setBrush(colour(kLook.body));
  p.drawRoundedRect(QRectF(0.5, 0.5, logicalWidth(image) - 1, logicalHeight(image) - 1), 3, 3);
}

// `scale` 1 gives the image the windows draw at 1x, 2 its 2x art.
QImage drawImage(const SkinImage& row, int scale = 1) {
  QImage image = canvas(row.width, row.height, scale);
  switch (row.face) {
    case Face::BodyLeft: drawBody(image, 0); break;
    case Face::BodyMiddle: drawBody(image, -1); break;
    case Face::BodyRight: drawBody(image, row.width - 1); break;
    case Face::Banner: drawBanner(image, false); break;
    case Face::WorkingBanner: drawBanner(image, true); break;
    case Face::PrimaryButton: drawButton(image, *row.shape, true, row.state, row.caption); break;
    case Face::SecondaryButton: drawButton(image, *row.shape, false, row.state, row.caption); break;
    case Face::Close: drawCloseGlyph(image, row.state); break;
    case Face::Minimise: drawMinimiseGlyph(image, row.state); break;
    case Face::Track: drawBar(image, kLook.trackTop, kLook.trackBottom, false); break;
    case Face::Fill: drawBar(image, kLook.fillTop, kLook.fillBottom, true); break;
    case Face::TickBox: drawTickBox(image, row.state); break;
    case Face::Spare: drawSpare(image); break;
    case Face::RecommendedCaption: drawRecommendedCaption(image); break;
  }
  return image;
}

// The program icon at one size: a rounded square in the brand's sweep with
// the coral play mark. Small sizes drop the inner ring, which would only blur.
QImage drawIcon(int size) {
  QImage image = canvas(size, size);
  QPainter p(&image);
  smooth(p);
  const double margin = std::round(size * kLook.iconMargin);
  const QRectF square(margin, margin, size - 2 * margin, size - 2 * margin);
  QLinearGradient sweep(square.topLeft(), square.bottomRight());
  sweep.setColorAt(0, colour(kLook.iconFrom));
  sweep.setColorAt(1, colour(kLook.iconTo));
  QPainterPath outline;
  outline.addRoundedRect(square, square.width() * kLook.iconCorner, square.width() * kLook.iconCorner);
  p.fillPath(outline, sweep);
  if (size >= 48) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour(kLook.white, 60), size / 48.0));
    const double ring = square.width() * 0.31;
    p.drawEllipse(square.center(), ring, ring);
  }
  const double height = square.height() * 0.40;
  const double width = height * 0.92;
  const QString mark = QString::fromUtf8(kLook.mark);
  if (mark == "play") {
    drawPlayMark(p, square.center().x() - width * 0.42, square.center().y(), height, std::max(1.0, size / 40.0),
                 colour(kLook.accent));
  } else if (mark != "none") {
    QFont font = interfaceFont(std::max(6, int(square.height() * 0.5)));
    font.setWeight(QFont::Bold);
    drawCentredText(p, mark, font, square.center(), colour(kLook.accent));
  }
  return image;
}

QByteArray pngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// An icon file whose entries are PNG images (the usual form for 256 pixels);
// Qt's icon reader and the desktops read it.
QByteArray iconFile() {
  auto u16 = [](QByteArray& out, int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
  auto u32 = [&](QByteArray& out, qint64 v) { u16(out, int(v & 0xFFFF)), u16(out, int((v >> 16) & 0xFFFF)); };
  const int count = int(std::size(kIconSizes));
  QByteArray header, images;
  u16(header, 0), u16(header, 1), u16(header, count);
  qint64 offset = 6 + 16 * count;
  for (int size : kIconSizes) {
    const QByteArray png = pngBytes(drawIcon(size));
    header.append(char(size >= 256 ? 0 : size)).append(char(size >= 256 ? 0 : size)).append('\0').append('\0');
    u16(header, 1), u16(header, 32), u32(header, png.size()), u32(header, offset);
    offset += png.size();
    images += png;
  }
  return header + images;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "lumo-skin: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    return false;
  }
  return true;
}

// ------------------------------------------------------------ contact sheet

QImage imageById(int id) {
  for (const SkinImage& row : kImages)
    if (row.id == id) return drawImage(row);
  return {};
}

// The three slices of the track or the fill, stretched to `target`.
void drawSliced(QPainter& p, const QImage& image, QRect target) {
  const int w = image.width(), h = image.height();
  p.drawImage(QRect(target.left(), target.top(), 3, target.height()), image, QRect(0, 0, 3, h));
  p.drawImage(QRect(target.left() + 3, target.top(), target.width() - 6, target.height()), image, QRect(3, 0, w - 6, h));
  p.drawImage(QRect(target.right() - 2, target.top(), 3, target.height()), image, QRect(w - 3, 0, 3, h));
}

struct Text { int x, y; const char* text; QRgb ink; };
struct Placed { int id; int x, y; };

// One face of a window roughly as the dialogs lay it out: banner, body,
// window buttons, then the face's own images and texts.
QImage windowFace(bool working, const std::vector<Placed>& images, const std::vector<Text>& texts, int progress) {
  QImage face = canvas(540, 377);
  QPainter p(&face);
  smooth(p);
  QPainterPath shape;
  shape.addRoundedRect(QRectF(0, 0, 540, 377), 3, 3);
  p.setClipPath(shape);
  p.fillRect(face.rect(), colour(kLook.body));
  p.drawImage(0, 0, imageById(working ? 1024 : 1023));
  const QImage left = imageById(1020), middle = imageById(1021), right = imageById(1022);
  p.drawImage(0, 161, left);
  for (int x = left.width(); x < 539 - right.width(); x += middle.width()) p.drawImage(x, 161, middle);
  p.drawImage(539 - right.width(), 161, right);
  if (progress >= 0) {
    drawSliced(p, imageById(1036), QRect(50, 230, 440, 18));
    const int fill = int(progress / 100.0 * (440 - 6));
    drawSliced(p, imageById(1037), QRect(50, 230, fill + 6, 18));
  }
  p.drawImage(474, 0, imageById(1030));
  p.drawImage(505, 0, imageById(working ? 1054 : 1028));
  for (const Placed& placed : images) p.drawImage(placed.x, placed.y, imageById(placed.id));
  QFont font = interfaceFont(13);
  p.setFont(font);
  for (const Text& text : texts) {
    p.setPen(colour(text.ink));
    p.drawText(QPointF(text.x, text.y + 12), QString::fromUtf8(text.text));
  }
  return face;
}

QImage contactSheet() {
  const QRgb link = rgb(0x3C3C3C), red = rgb(0xFF0000);
  const std::vector<QImage> faces = {
      windowFace(false,
                 {{1043, 55, 213}, {1043, 55, 241}, {1052, 55, 272}, {1043, 150, 270}, {1042, 260, 270},
                  {1027, 170, 298}},
                 {{72, 209, "已阅读并同意", link}, {152, 209, "《Vexta影音软件用户使用协议》", link},
                  {72, 237, "安装成功后运行 Vexta影音", link}, {55, 180, "安装位置：/opt/Vexta", link},
                  {167, 267, "示例软件", link}, {277, 267, "示例播放插件", link}},
                 -1),
      windowFace(true, {{1025, 170, 298}},
                 {{135, 205, "正在为您安装Vexta影音，请稍候", link}, {345, 205, "(42%) ...", link}}, 42),
      windowFace(false, {{1042, 74, 221}, {1032, 292, 311}, {1034, 409, 311}},
                 {{150, 185, "您确认要卸载 Vexta影音 及其全部组件吗？", link},
                  {91, 217, "同时清除 您的使用设置、最近观看记录、本地播放缓存", link}},
                 -1),
      windowFace(false, {{1042, 55, 213}, {1044, 55, 241}, {1053, 170, 298}},
                 {{72, 209, "已阅读并同意", red}, {152, 209, "《Vexta影音软件用户使用协议》!", red},
                  {72, 237, "安装成功后运行 Vexta影音", link}},
                 -1),
      windowFace(false, {{1040, 170, 298}}, {{183, 190, "Vexta影音已成功安装", link}}, 100),
      windowFace(true, {{1038, 214, 297}}, {{150, 205, "Vexta影音已成功卸载", link}}, 100),
  };
  const int gap = 24, columns = 3;
  const int sheetWidth = columns * 540 + (columns + 1) * gap;
  const int facesHeight = 2 * (377 + gap) + gap;
  QImage sheet(sheetWidth, facesHeight + 800, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(colour(rgb(0xC9CAD3)));
  QPainter p(&sheet);
  smooth(p);
  for (int i = 0; i < int(faces.size()); ++i)
    p.drawImage(gap + (i % columns) * (540 + gap), gap + (i / columns) * (377 + gap), faces[i]);

  // Every image at 100 %, with its id; glyphs of the banner on a piece of it.
  const QImage banner = imageById(1023);
  int x = gap, y = facesHeight, rowHeight = 0;
  p.setFont(interfaceFont(12));
  for (const SkinImage& row : kImages) {
    const QImage image = drawImage(row);
    const int cell = std::max(image.width(), 44);
    if (x + cell > sheetWidth - gap) x = gap, y += rowHeight + 30, rowHeight = 0;
    const bool onBanner = row.face == Face::Close || row.face == Face::Minimise;
    if (onBanner) p.drawImage(x, y, banner, 474, 0, image.width(), image.height());
    else if (row.face != Face::Banner && row.face != Face::WorkingBanner) p.fillRect(x, y, image.width(), image.height(), colour(kLook.body));
    p.drawImage(x, y, image);
    p.setPen(colour(kLook.text));
    p.drawText(QPointF(x, y + image.height() + 15), QString::number(row.id));
    x += cell + 16;
    rowHeight = std::max(rowHeight, image.height());
  }
  x = gap, y += rowHeight + 30;
  for (int size : kIconSizes) {
    const QImage icon = drawIcon(size);
    p.drawImage(x, y + 256 - size, icon);
    p.setPen(colour(kLook.text));
    p.drawText(QPointF(x, y + 256 + 15), QString("ICON %1").arg(size));
    x += size + 16;
  }
  p.end();
  return sheet.copy(0, 0, sheetWidth, y + 256 + 30);
}

// ------------------------------------------------------------ themes

// A theme file: UTF-8 INI text, keys in any order under an optional [theme]
// header, "#" or ";" starting a comment line. A key left out keeps the
// built-in look's value, so the default theme in resources/ draws exactly
// the built-in images.
struct ThemeKey {
  const char* name;
  const char* meaning;
};
constexpr ThemeKey kThemeKeys[] = {
    {"product_name", "the name on the banner and on the open-the-product button"},
    {"tagline", "the line below the name"},
    {"mark", "beside the name and on the icon: play, none, or a short text"},
    {"banner_from", "banner colour at the top left (#RRGGBB)"},
    {"banner_to", "banner colour at the bottom right"},
    {"banner_glow", "the glow at the banner's top right"},
    {"accent", "buttons, ticks, the progress fill, the mark"},
    {"icon_from", "program icon colour at the top left (default: the banner's)"},
    {"icon_to", "program icon colour at the bottom right (default: the banner's)"},
    {"open_caption", "caption of the open-the-product button (default: 打开 + the name)"},
};

// The theme's texts outlive every drawing.
const char* keep(const QString& text) {
  static std::vector<std::unique_ptr<QByteArray>> texts;
  texts.push_back(std::make_unique<QByteArray>(text.toUtf8()));
  return texts.back()->constData();
}

std::optional<QRgb> parseColour(const QString& text) {
  static const QRegularExpression shape(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
  if (!shape.match(text).hasMatch()) return std::nullopt;
  return rgb(text.mid(1).toUInt(nullptr, 16));
}

// Reads `path` into the look in use; false with `error` set when the file
// cannot be read or says something the look cannot take.
bool applyTheme(const QString& path, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = path + ": " + file.errorString();
    return false;
  }
  QByteArray bytes = file.readAll();
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString text = decoder.decode(bytes);
  if (decoder.hasError()) {
    error = path + ": not UTF-8 text (a theme file is UTF-8)";
    return false;
  }
  Look look = gTheme;
  QString openCaption;
  bool accentGiven = false;
  bool iconGiven = false;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].trimmed();
    const QString where = QStringLiteral("%1:%2: ").arg(path).arg(i + 1);
    if (line.isEmpty() || line.startsWith('#') || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      if (line.compare(QStringLiteral("[theme]"), Qt::CaseInsensitive) != 0) {
        error = where + "only a [theme] section is read: " + line;
        return false;
      }
      continue;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0) {
      error = where + "not a KEY=VALUE line: " + line;
      return false;
    }
    const QString key = line.left(equals).trimmed().toLower();
    const QString value = line.mid(equals + 1).trimmed();
    if (key == "product_name" || key == "tagline" || key == "mark" || key == "open_caption") {
      if (key == "product_name" && value.isEmpty()) {
        error = where + "product_name is empty";
        return false;
      }
      if (key == "mark" && value != "play" && value != "none" && value.size() > 3) {
        error = where + "mark is play, none or a text of at most 3 characters: " + value;
        return false;
      }
      if (key == "product_name") look.productName = keep(value);
      if (key == "tagline") look.tagline = keep(value);
      if (key == "mark") look.mark = keep(value.isEmpty() ? QStringLiteral("none") : value);
      if (key == "open_caption") openCaption = value;
      continue;
    }
    QRgb* target = key == "banner_from"   ? &look.bannerFrom
                   : key == "banner_to"   ? &look.bannerTo
                   : key == "banner_glow" ? &look.bannerGlow
                   : key == "accent"      ? &look.accent
                   : key == "icon_from"   ? &look.iconFrom
                   : key == "icon_to"     ? &look.iconTo
                                          : nullptr;
    if (!target) {
      error = where + "unknown key " + key + " (lumo-skin --help lists the keys)";
      return false;
    }
    const std::optional<QRgb> colourValue = parseColour(value);
    if (!colourValue) {
      error = where + key + " is not a colour #RRGGBB: " + value;
      return false;
    }
    *target = *colourValue;
    accentGiven = accentGiven || key == "accent";
    if (key == "icon_from" || key == "icon_to") iconGiven = true;
  }
  // An icon in the banner's colours, unless the theme names its own.
  if (!iconGiven && (look.bannerFrom != gTheme.bannerFrom || look.bannerTo != gTheme.bannerTo)) {
    look.iconFrom = look.bannerFrom;
    look.iconTo = look.bannerTo;
  }
  // The shades that follow the accent: the built-in ones belong to the
  // built-in accent only.
  if (accentGiven && look.accent != gTheme.accent) {
    look.busyFace = mix(look.accent, look.disabledFace, 45);
    look.boxHoverBorder = mix(look.accent, look.white, 40);
    look.boxCheckedFace = mix(look.accent, look.white, 92);
  }
  if (openCaption.isEmpty() && QString::fromUtf8(look.productName) != QString::fromUtf8(gTheme.productName))
    openCaption = QStringLiteral("打开") + QString::fromUtf8(look.productName);
  if (!openCaption.isEmpty()) {
    const QByteArray caption = openCaption.toUtf8();
    if (caption.size() >= qsizetype(sizeof gOpenProductCaption)) {
      error = path + ": open_caption is too long";
      return false;
    }
    std::memcpy(gOpenProductCaption, caption.constData(), size_t(caption.size()) + 1);
  }
  gTheme = look;
  return true;
}

void printUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: lumo-skin OUTDIR                  every image as OUTDIR/ID.png, and OUTDIR/icon.ico\n"
               "       lumo-skin --theme FILE OUTDIR     the same in the look of a theme file\n"
               "       lumo-skin [--theme FILE] --sheet FILE   a contact sheet of the faces and images\n"
               "       lumo-skin --help | --version\n"
               "\nA theme file is UTF-8 INI text ([theme], KEY=VALUE); a key left out keeps the built-in look:\n");
  for (const ThemeKey& key : kThemeKeys) std::fprintf(to, "  %-13s %s\n", key.name, key.meaning);
}

bool fontPresent() {
  const QStringList families = QFontDatabase::families();
  if (families.contains(QString::fromUtf8(kLook.fontFamily))) return true;
  std::fprintf(stderr,
               "lumo-skin: the interface font \"%s\" is not installed (Debian: fonts-wqy-microhei); "
               "the captions cannot be drawn without it\n",
               kLook.fontFamily);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // The skin never needs a screen; a hand-run without a display works too.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  QString themeFile, sheetFile, folder;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      printUsage(stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("lumo-skin %s\n", LUMO_VERSION);
      return 0;
    }
    if ((arg == "--theme" || arg == "--sheet") && i + 1 < args.size() && !args[i + 1].isEmpty()) {
      (arg == "--theme" ? themeFile : sheetFile) = args[++i];
    } else if (!arg.startsWith('-') && !arg.isEmpty() && folder.isEmpty()) {
      folder = arg;
    } else {
      std::fprintf(stderr, "lumo-skin: unexpected argument \"%s\"\n", qPrintable(arg));
      printUsage(stderr);
      return 2;
    }
  }
  if (sheetFile.isEmpty() == folder.isEmpty()) {
    printUsage(stderr);
    return 2;
  }
  if (!themeFile.isEmpty()) {
    QString error;
    if (!applyTheme(themeFile, error)) {
      std::fprintf(stderr, "lumo-skin: %s\n", qPrintable(error));
      return 1;
    }
  }
  if (!fontPresent()) return 1;

  if (!sheetFile.isEmpty()) {
    const QImage image = contactSheet();
    return writeBytes(sheetFile, pngBytes(image)) ? 0 : 1;
  }
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "lumo-skin: cannot create %s\n", qPrintable(folder));
    return 1;
  }
  for (const SkinImage& row : kImages) {
    if (!writeBytes(folder + QString("/%1.png").arg(row.id), pngBytes(drawImage(row)))) return 1;
    if (!writeBytes(folder + QString("/%1@2x.png").arg(row.id), pngBytes(drawImage(row, 2)))) return 1;
  }
  return writeBytes(folder + "/icon.ico", iconFile()) ? 0 : 1;
}
