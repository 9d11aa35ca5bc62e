#pragma once
// The dialog that asks for a filter expression (libpcap's language, as
// tcpdump takes it), in an editable box that offers the last expressions
// applied, remembered in the settings under a key of the dialog's own. Return
// applies; an expression that is refused is said over the dialog, which stays
// open with what was typed, and nothing changes. Whoever applies an
// expression remembers it (Remember), from the dialog or not.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;

class TFilterDialog : public QDialog {
  Q_OBJECT
 public:
  // Applies an expression: false, with the reason in `error`, when it is refused.
  using Apply = std::function<bool(const QString& expression, QString& error)>;

  // `historyKey`: where the settings keep the expressions applied.
  TFilterDialog(QWidget* parent, const QString& title, const QString& label, const char* historyKey,
                Apply apply);

  // Shows the dialog with `current` in the box until an expression is
  // applied (true) or the dialog is cancelled.
  bool Ask(const QString& current);
  QComboBox* box() const { return FBox; }

  // The expressions applied under `key`, newest first; at most kHistory.
  static QStringList History(const char* key);
  // Puts `expression` first in the expressions under `key`.
  static void Remember(const char* key, const QString& expression);
  static constexpr int kHistory = 20;

 private:
  void Accepted();

  const char* FHistoryKey;
  Apply FApply;
  QComboBox* FBox = nullptr;
};
