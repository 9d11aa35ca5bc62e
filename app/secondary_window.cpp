#include "app/secondary_window.h"

#include <QWidget>

#include "app/fonts.h"
#include "app/pictures.h"

namespace netvane {

void SetUpSecondaryWindow(QWidget* window, const QString& title) {
  window->setWindowTitle(title);
  window->setWindowIcon(AppIcon());
  window->setAttribute(Qt::WA_QuitOnClose, false);
  QFont f(QString::fromLatin1(kWindowFamily));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(kFontPixels);
  window->setFont(f);
}

}  // namespace netvane
