#include "app/exception_report.h"

#include <QMessageBox>

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
  setApplicationName(QString::fromLatin1(kApplicationTitle));
  setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
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
