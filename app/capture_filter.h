#pragma once
// The capture filter: "Capture filter..." (Ctrl+Shift+K; Ctrl+K alone belongs
// to the adapter box's text field) in the adapter box's context menu asks for
// an expression of libpcap's filter language (filter_dialog.h), which every
// capture takes from the next Start on, besides the "Don't capture broadcast"
// box and the address-filter list (and, on another host, the exclusion of the
// capture's own SSH connection). The driver compiles it with those into one
// program, which the capture helper checks as any other; here it is compiled
// once for Ethernet first, so a bad one is said over the dialog with libpcap's
// own message and changes nothing. An empty expression captures every frame.
// The expression is remembered in the settings and set again at the next run.
// While one is set, the window title says so (window_title.h).

#include <QObject>
#include <QString>

class QAction;
class TFilterDialog;
class TForm1;

class TCaptureFilter : public QObject {
  Q_OBJECT
 public:
  // Sets the remembered expression, if it still compiles.
  explicit TCaptureFilter(TForm1* window);

  QAction* CaptureFilterAction = nullptr;  // "Capture filter...", Ctrl+Shift+K

  void CaptureFilterClick();
  // Sets `expression` (empty: none) for the captures from the next Start
  // and remembers it. False, with libpcap's message in `error` and nothing
  // changed, when it does not compile.
  bool Set(const QString& expression, QString& error);
  QString expression() const { return FExpression; }
  // What the window title says of it; empty when none is set or in use.
  QString TitlePart() const;

  // --- for tests ----------------------------------------------------------------
  TFilterDialog* dialog() const { return FDialog; }

 private:
  void Hand(const QString& expression);
  void Started();

  TForm1* FWindow;
  QString FExpression;  // set: taken at the next Start
  QString FInUse;       // taken by the capture started last
  bool FStarted = false;
  TFilterDialog* FDialog = nullptr;
};
