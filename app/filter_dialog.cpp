#include "app/filter_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_settings.h"

TFilterDialog::TFilterDialog(QWidget* parent, const QString& title, const QString& label,
                             const char* historyKey, Apply apply)
    : QDialog(parent), FHistoryKey(historyKey), FApply(std::move(apply)) {
  setWindowTitle(title);
  auto* text = new QLabel(label, this);
  FBox = new QComboBox(this);
  FBox->setEditable(true);
  FBox->setInsertPolicy(QComboBox::NoInsert);  // only expressions applied are remembered
  FBox->setMaxCount(kHistory);
  FBox->setMinimumWidth(420);
  FBox->lineEdit()->setPlaceholderText(QStringLiteral("udp port 53 or host 10.0.0.1"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::AcceptRole)->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(FBox);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TFilterDialog::Accepted);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool TFilterDialog::Ask(const QString& current) {
  FBox->clear();
  FBox->addItems(History(FHistoryKey));
  FBox->setEditText(current);
  FBox->lineEdit()->selectAll();
  FBox->setFocus();
  return exec() == QDialog::Accepted;
}

void TFilterDialog::Accepted() {
  QString error;
  const QString text = FBox->currentText();
  if (FApply(text, error)) {
    accept();
    return;
  }
  QMessageBox box(QMessageBox::Warning, windowTitle(),
                  QStringLiteral("\"%1\" is not a filter expression: %2.").arg(text.trimmed(), error),
                  QMessageBox::Ok, this);
  box.exec();
}

QStringList TFilterDialog::History(const char* key) {
  QStringList list = netvane::AppSettings()->value(QString::fromLatin1(key)).toStringList();
  if (list.size() > kHistory) list.erase(list.begin() + kHistory, list.end());
  return list;
}

void TFilterDialog::Remember(const char* key, const QString& expression) {
  QStringList list = History(key);
  list.removeAll(expression);
  list.prepend(expression);
  if (list.size() > kHistory) list.erase(list.begin() + kHistory, list.end());
  netvane::AppSettings()->setValue(QString::fromLatin1(key), list);
}
