// Writes the application icon as PNG files of the given sizes, for the
// desktop icon theme: render_icon OUTDIR SIZE...
#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "app/pictures.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: render_icon OUTDIR SIZE...\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) return 2;
    if (!netvane::AppIconPixmap(size).save(QStringLiteral("%1/netvane-%2.png").arg(out).arg(size))) return 1;
  }
  return 0;
}
