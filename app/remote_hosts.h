#pragma once
// Adapters of other hosts in the adapter box, captured over SSH
// (capture/ssh_link.h). The box's context menu has "Add remote host..." and
// "Remove remote host". A host is asked as [USER@]HOST[:PORT]; its adapters
// are listed on a thread of their own, so the window goes on meanwhile (the
// listing ends within ssh's connect timeout and a second), and are shown
// after the machine's own as "ADAPTER on HOST". Hosts and their adapters are
// remembered (QSettings) and shown again at the next start without asking
// the hosts; a remote adapter is captured like a local one, with Start. The
// menu is offered until the first Start, as the box is. Nothing of the
// layout moves: the question and the messages are standard Qt dialogs.

#include <QObject>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "app/thread_call.h"

class QAction;
class QPoint;
class TForm1;

class TRemoteHosts : public QObject {
  Q_OBJECT
 public:
  // Reads the remembered hosts and hooks the adapter box's context menu.
  explicit TRemoteHosts(TForm1* window);
  // Waits for a listing under way.
  ~TRemoteHosts() override;

  QAction* AddAction = nullptr;     // "Add remote host..."
  QAction* RemoveAction = nullptr;  // "Remove remote host"

  // The remembered adapters, as ssh://[USER@]HOST[:PORT]/ADAPTER names, host by host.
  std::vector<std::string> AdapterNames() const;

  // Asks for a host, then adds it (Add).
  void AddClick();
  // Lists the adapters of `host` on a thread and, when that has worked,
  // remembers them in place of what was remembered of it. A name that is not
  // a host, or a host that cannot be listed, is reported in a message box
  // naming it. False when the listing has not begun.
  bool Add(const QString& host);
  // Forgets the host of the adapter the box shows.
  void RemoveClick();
  // Forgets `host` ([USER@]HOST[:PORT] as remembered) and its adapters.
  void Remove(const QString& host);
  bool listing() const { return FLister.running(); }

 signals:
  // The remembered adapters changed.
  void changed();

 private:
  struct Host {
    QString text;  // [USER@]HOST[:PORT], as the driver writes it
    QStringList adapters;
  };
  void ShowMenu(QWidget* on, const QPoint& at);
  // The host of the adapter the box shows; empty when it is a local one.
  QString ShownHost() const;
  void Listed(const QString& host, const std::vector<std::string>& adapters, const QString& error);
  void Load();
  void Store() const;
  void Tell(const QString& text);

  TForm1* FWindow;
  std::vector<Host> FHosts;
  TThreadCall FLister;  // a listing under way, until it has reported
};
