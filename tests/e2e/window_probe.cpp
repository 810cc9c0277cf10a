// A helper of the real-window test, run under the test's X server:
//   window_probe solid W H RRGGBB OUT.png   writes a one-colour PNG
//   window_probe pixels X,Y ...             prints "X,Y=#rrggbb" per point
//                                           as the screen shows it now
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc == 6 && QByteArray(argv[1]) == "solid") {
    QImage image(QByteArray(argv[2]).toInt(), QByteArray(argv[3]).toInt(), QImage::Format_ARGB32);
    image.fill(QColor(QStringLiteral("#") + QString::fromLatin1(argv[4])));
    return image.save(QString::fromLocal8Bit(argv[5]), "PNG") ? 0 : 1;
  }
  if (argc >= 3 && QByteArray(argv[1]) == "pixels") {
    QGuiApplication application(argc, argv);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    for (int i = 2; i < argc; ++i) {
      const QList<QByteArray> xy = QByteArray(argv[i]).split(',');
      const QPoint point(xy.value(0).toInt(), xy.value(1).toInt());
      std::printf("%s=%s\n", argv[i], qPrintable(QColor(screen.pixel(point)).name()));
    }
    return 0;
  }
  std::fputs("usage: window_probe solid W H RRGGBB OUT.png | pixels X,Y ...\n", stderr);
  return 2;
}
