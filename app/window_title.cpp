#include "app/window_title.h"

#include <QStringList>

#include "app/Form1.h"
#include "app/application_title.h"
#include "app/capture_filter.h"
#include "app/display_filter.h"

namespace netvane {

void ShowWindowTitle(TForm1* window) {
  QStringList parts{QString::fromLatin1(kApplicationTitle)};
  if (!window->connectingTo().isEmpty()) parts << QStringLiteral("connecting to ") + window->connectingTo();
  // Either may not exist yet while the window is being built.
  if (window->captureFilter() != nullptr) parts << window->captureFilter()->TitlePart();
  if (window->displayFilter() != nullptr) parts << window->displayFilter()->TitlePart();
  parts.removeAll(QString());
  window->setWindowTitle(parts.join(QStringLiteral(" - ")));
}

}  // namespace netvane
