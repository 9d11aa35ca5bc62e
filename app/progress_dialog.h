#pragma once
// The progress dialog of a long operation of the main window (opening, saving
// or searching a capture): it shows only once the operation has taken more
// than a moment, is not modal (the list can be looked at meanwhile), and its
// Cancel button, or closing it, cancels the operation.

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class QProgressDialog;
class QWidget;

class TProgressDialog {
 public:
  // `label`: what the operation does; `cancel`: called on the UI thread when
  // the user cancels. The clock starts now.
  TProgressDialog(QWidget* window, QString label, std::function<void()> cancel);
  // Closes the dialog.
  ~TProgressDialog();
  TProgressDialog(const TProgressDialog&) = delete;
  TProgressDialog& operator=(const TProgressDialog&) = delete;

  // `done` of the operation is done, 0 to 1: shown once the operation has
  // run for kShowAfter.
  void Update(double done);
  // The operation is over: the dialog goes, and its going is no Cancel.
  void Close();

  // An operation that is not done after this shows the dialog.
  static constexpr std::chrono::milliseconds kShowAfter{400};

 private:
  QWidget* window_;
  QString label_;
  std::function<void()> cancel_;
  QElapsedTimer clock_;
  QPointer<QProgressDialog> dialog_;
};
