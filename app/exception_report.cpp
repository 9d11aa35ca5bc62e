#include "app/exception_report.h"

#include <QMessageBox>

#include "app/application_title.h"
#include "app/contrast.h"

#include <exception>

namespace netvane {

QString ExceptionReportText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowExceptionReport(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), ExceptionReportText(message),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ExceptionReport"));
  box.exec();
}

void ReportCurrentException() {
  std::string message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    // A kind that carries no message is shown with an empty one.
  }
  ShowExceptionReport(message);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The name only: a display name would be appended to every window title.
  setApplicationName(QString::fromLatin1(kApplicationTitle));
  // The desktop's colours, with every text made to read on its background.
  setPalette(ReadablePalette(palette()));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    // Reporting must not throw out of notify either: that would end the loop.
    try {
      ReportCurrentException();
    } catch (...) {
    }
    return false;
  }
}

}  // namespace netvane
