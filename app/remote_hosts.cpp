#include "app/remote_hosts.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>

#include <algorithm>
#include <memory>

#include "app/Form1.h"
#include "app/app_settings.h"
#include "app/message_box.h"
#include "capture/KelNetMonitor.h"
#include "capture/remote_name.h"
#include "capture/ssh_link.h"

namespace {

constexpr const char* kHostsKey = "RemoteHosts";

}  // namespace

TRemoteHosts::TRemoteHosts(TForm1* window) : QObject(window), FWindow(window) {
  AddAction = new QAction(QStringLiteral("Add remote host..."), this);
  RemoveAction = new QAction(QStringLiteral("Remove remote host"), this);
  AddAction->setObjectName(QStringLiteral("AddRemoteHostAction"));
  RemoveAction->setObjectName(QStringLiteral("RemoveRemoteHostAction"));
  connect(AddAction, &QAction::triggered, this, [this] { AddClick(); });
  connect(RemoveAction, &QAction::triggered, this, [this] { RemoveClick(); });
  // An editable box is mostly its line edit, whose own menu (cut, copy,
  // paste) stays, with these two after it.
  QComboBox* box = window->CardBox;
  for (QWidget* part : {static_cast<QWidget*>(box), static_cast<QWidget*>(box->lineEdit())}) {
    part->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(part, &QWidget::customContextMenuRequested, this,
            [this, part](const QPoint& at) { ShowMenu(part, at); });
  }
  Load();
}

TRemoteHosts::~TRemoteHosts() = default;

void TRemoteHosts::ShowMenu(QWidget* on, const QPoint& at) {
  auto* edit = qobject_cast<QLineEdit*>(on);
  std::unique_ptr<QMenu> menu(edit ? edit->createStandardContextMenu() : new QMenu);
  if (!menu->isEmpty()) menu->addSeparator();
  AddAction->setEnabled(!listing());
  RemoveAction->setEnabled(!ShownHost().isEmpty());
  menu->addAction(AddAction);
  menu->addAction(RemoveAction);
  // What the window adds to the box (its capture filter).
  const QList<QAction*> more = FWindow->CardBox->actions();
  if (!more.isEmpty()) {
    menu->addSeparator();
    menu->addActions(more);
  }
  menu->exec(on->mapToGlobal(at));
}

std::vector<std::string> TRemoteHosts::AdapterNames() const {
  std::vector<std::string> names;
  for (const Host& host : FHosts) {
    netvane::RemoteTarget target;
    std::string error;
    if (!netvane::ParseRemoteHost(host.text.toStdString(), target, error)) continue;
    for (const QString& adapter : host.adapters) {
      target.adapter = adapter.toStdString();
      names.push_back(target.AdapterName());
    }
  }
  return names;
}

void TRemoteHosts::AddClick() {
  bool ok = false;
  const QString host = QInputDialog::getText(FWindow, QStringLiteral("Add remote host"),
                                             QStringLiteral("Host to capture on, as [USER@]HOST[:PORT]:"),
                                             QLineEdit::Normal, QString(), &ok);
  if (ok && !host.trimmed().isEmpty()) Add(host.trimmed());
}

bool TRemoteHosts::Add(const QString& text) {
  if (listing()) return false;
  netvane::RemoteTarget target;
  std::string error;
  if (!netvane::ParseRemoteHost(text.toStdString(), target, error)) {
    Tell(QStringLiteral("%1 is not a host: %2.").arg(text, QString::fromStdString(error)));
    return false;
  }
  QApplication::setOverrideCursor(Qt::BusyCursor);
  FLister.Start(this, [this, target]() -> TThreadCall::Outcome {
    std::vector<std::string> adapters;
    std::string why;
    if (!netvane::ListRemoteAdapters(target, adapters, why)) adapters.clear();
    const QString host = QString::fromStdString(target.HostText());
    const QString reason = QString::fromStdString(why);
    return [this, host, adapters, reason] { Listed(host, adapters, reason); };
  });
  return true;
}

void TRemoteHosts::Listed(const QString& host, const std::vector<std::string>& adapters,
                          const QString& error) {
  QApplication::restoreOverrideCursor();
  if (!error.isEmpty()) {
    Tell(QStringLiteral("The adapters of %1 cannot be listed: %2.").arg(host, error));
    return;
  }
  if (adapters.empty()) {
    Tell(QStringLiteral("%1 has no Ethernet adapter to capture.").arg(host));
    return;
  }
  Host entry{host, {}};
  for (const std::string& adapter : adapters) entry.adapters << QString::fromStdString(adapter);
  auto same = std::find_if(FHosts.begin(), FHosts.end(), [&](const Host& h) { return h.text == host; });
  if (same != FHosts.end())
    *same = entry;
  else
    FHosts.push_back(entry);
  Store();
  emit changed();
}

QString TRemoteHosts::ShownHost() const {
  const std::string name = FWindow->NetMonitor->adapterName(FWindow->CardBox->currentIndex());
  netvane::RemoteTarget target;
  std::string error;
  if (!netvane::ParseRemoteAdapter(name, target, error)) return {};
  return QString::fromStdString(target.HostText());
}

void TRemoteHosts::RemoveClick() {
  const QString host = ShownHost();
  if (!host.isEmpty()) Remove(host);
}

void TRemoteHosts::Remove(const QString& host) {
  const auto gone =
      std::remove_if(FHosts.begin(), FHosts.end(), [&](const Host& h) { return h.text == host; });
  if (gone == FHosts.end()) return;
  FHosts.erase(gone, FHosts.end());
  Store();
  emit changed();
}

void TRemoteHosts::Load() {
  const std::unique_ptr<QSettings> settings = netvane::AppSettings();
  const int count = settings->beginReadArray(QString::fromLatin1(kHostsKey));
  for (int i = 0; i < count; ++i) {
    settings->setArrayIndex(i);
    // Only what names a host is taken back; the driver checks each adapter again.
    netvane::RemoteTarget target;
    std::string error;
    const QString text = settings->value(QStringLiteral("host")).toString();
    if (!netvane::ParseRemoteHost(text.toStdString(), target, error)) continue;
    FHosts.push_back({QString::fromStdString(target.HostText()),
                      settings->value(QStringLiteral("adapters")).toStringList()});
  }
  settings->endArray();
}

void TRemoteHosts::Store() const {
  const std::unique_ptr<QSettings> settings = netvane::AppSettings();
  settings->beginWriteArray(QString::fromLatin1(kHostsKey), static_cast<int>(FHosts.size()));
  for (size_t i = 0; i < FHosts.size(); ++i) {
    settings->setArrayIndex(static_cast<int>(i));
    settings->setValue(QStringLiteral("host"), FHosts[i].text);
    settings->setValue(QStringLiteral("adapters"), FHosts[i].adapters);
  }
  settings->endArray();
}

void TRemoteHosts::Tell(const QString& text) {
  netvane::TellBox(FWindow, QMessageBox::Warning, text);
}
