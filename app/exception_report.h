#pragma once
// The application object and its standard exception report: an exception that
// escapes an event handler is shown in a message box and the loop goes on.

#include <QApplication>
#include <QString>

#include <string>

namespace netvane {

// The message as the report shows it: "." is appended when the last character
// comes after "." in character order (a letter or a digit, for example).
// Texts are 8-bit; characters compare as unsigned bytes.
QString ExceptionReportText(const std::string& message);

// Modal message box: caption = application title, error icon, one OK button.
void ShowExceptionReport(const std::string& message);

// Reports the exception in flight (call from a catch block).
void ReportCurrentException();

// The application: its name, the desktop's palette with readable texts, and
// the report of exceptions that escape a handler.
class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace netvane
