// The adapter table, the adapter combo box, selecting, binding and
// unbinding, and the address-filter list each bind installs (with the local
// host's own addresses as one such list).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>

#include <cerrno>
#include <cstring>
#include <vector>

#include "capture/KelNetMonitor.h"

void TKelNetMonitor::AddAdapter(const std::string& name, const std::string& description) {
  User_StatusMessage("Found network adapter " + name + " (" + description + ").");
  std::lock_guard<std::mutex> lock(FStateLock);
  FAdapterName.resize(static_cast<size_t>(FAdapterCount));
  FAdapterDescription.resize(static_cast<size_t>(FAdapterCount));
  FAdapterName.push_back(name);
  FAdapterDescription.push_back(description);
  ++FAdapterCount;
}

int TKelNetMonitor::adapterCount() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return FAdapterCount;
}

bool TKelNetMonitor::AdapterEntry(int index, std::string& name) const {
  std::lock_guard<std::mutex> lock(FStateLock);
  if (index < 0 || index >= FAdapterCount) return false;
  name = FAdapterName[static_cast<size_t>(index)];
  return true;
}

std::string TKelNetMonitor::adapterName(int index) const {
  std::string name;
  AdapterEntry(index, name);
  return name;
}

std::string TKelNetMonitor::adapterDescription(int index) const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return index >= 0 && index < FAdapterCount ? FAdapterDescription[static_cast<size_t>(index)]
                                             : std::string();
}

void TKelNetMonitor::FillAdapterComboBox(QComboBox* box, bool addEmptyFirst) {
  std::vector<std::string> descriptions;
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    descriptions.assign(FAdapterDescription.begin(), FAdapterDescription.begin() + FAdapterCount);
  }
  if (box != nullptr) {
    box->clear();
    if (addEmptyFirst) box->addItem(QString());
    for (const std::string& description : descriptions) box->addItem(QString::fromStdString(description));
    // Filling leaves the box without a selection (and an editable box without
    // text); a Qt combo box would otherwise select the first item it receives.
    box->setCurrentIndex(-1);
  }
  if (descriptions.empty())
    User_StatusMessage("No network adapters found.");
  else
    User_StatusMessage(std::to_string(descriptions.size()) + " Network adapter(s) found.");
}

void TKelNetMonitor::InitializeComboBox() {
  QComboBox* box = FAdapterComboBox.data();
  if (box == nullptr) return;
  FillAdapterComboBox(box, false);
  // The user's choice selects the adapter: picking an item, or typing into an
  // editable box. activated() and textEdited() fire only for the user's own
  // changes, so filling the box or setting its position in code does not
  // select anything. Connected once per box, however often the component opens.
  QObject::disconnect(box, &QComboBox::activated, this, nullptr);
  connect(box, &QComboBox::activated, this, [this, box](int) { AdapterComboBoxChanges(box); });
  if (QLineEdit* edit = box->lineEdit()) {
    QObject::disconnect(edit, &QLineEdit::textEdited, this, nullptr);
    connect(edit, &QLineEdit::textEdited, this, [this, box](const QString&) { AdapterComboBoxChanges(box); });
  }
}

void TKelNetMonitor::AdapterComboBoxChanges(QObject* Sender) {
  auto* box = qobject_cast<QComboBox*>(Sender);
  if (box == nullptr) return;
  SelectAdapter(box->currentText().toStdString());
}

int TKelNetMonitor::get_adapternum(const std::string& text) const {
  std::lock_guard<std::mutex> lock(FStateLock);
  for (int i = 0; i < FAdapterCount; ++i)
    if (text == FAdapterName[i] || text == FAdapterDescription[i]) return i;
  return -1;
}

bool TKelNetMonitor::SelectAdapter(const std::string& text) {
  return SelectAdapter(get_adapternum(text));
}

bool TKelNetMonitor::SelectAdapter(int index) {
  return OnDriverThread(Wait::ForResult, false, [this, index] { return SelectHere(index); });
}

bool TKelNetMonitor::SelectHere(int index) {
  std::string name;
  if (!AdapterEntry(index, name)) {
    User_StatusMessage("Invalid Network adapter specified.");
    if (FBound.load()) StopCapture();
    return false;
  }
  FSelectedAdapter.store(index);
  if (FBound.load()) {
    StopCapture();
    return StartCapture();
  }
  User_StatusMessage("Network adapter " + name + " selected.");
  return true;
}

bool TKelNetMonitor::BindAdapter(int index) {
  return OnDriverThread(Wait::ForResult, false, [this, index] { return BindHere(index); });
}

// On the driver's thread, so the worker never reads an adapter that is bound
// but not yet filtered.
bool TKelNetMonitor::BindHere(int index) {
  std::string name;
  if (!AdapterEntry(index, name)) {
    DNetError("Invalid network adapter specified");
    return false;
  }
  if (!FOpened.load()) {
    DNetError("Cannot bind an adapter until the network monitor is opened");
    return false;
  }
  UnBindAdapter();
  FBound.store(Driver_BindAdapter(name.c_str()));
  if (!FBound.load()) {
    // A bind given up for a pause or stop is no failure to report.
    if (!BindCancelled()) DNetError("Failed to bind adapter " + name);
  } else {
    User_StatusMessage("Network adapter " + name + " has been bound.");
    if (!apply_FilterIP()) UnBindAdapter();
  }
  return FBound.load();
}

bool TKelNetMonitor::UnBindAdapter() {
  const bool wasBound = FBound.exchange(false);
  auto result = std::make_shared<bool>(true);
  if (!OnDriverThread([this, wasBound, result] { *result = UnbindHere(wasBound); }, Wait::UnlessHandler))
    return true;
  return *result;
}

bool TKelNetMonitor::UnbindHere(bool wasBound) {
  const bool bound = FBound.exchange(false) || wasBound;
  if (!FOpened.load() || !bound) return true;
  const bool result = Driver_UnBindAdapter();
  User_StatusMessage("Network adapter has been unbound.");
  return result;
}

// --- the address-filter list ----------------------------------------------------------
// Stored always, installed through the driver while bound.

bool TKelNetMonitor::set_FilterIP(const std::string& list) {
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FFilterIP = list;
  }
  return apply_FilterIP();
}

std::string TKelNetMonitor::get_FilterIP() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return FFilterIP;
}

bool TKelNetMonitor::apply_FilterIP() {
  // Nothing bound: the list waits for the next bind, which installs it.
  if (!FBound.load()) return true;
  return OnDriverThread(Wait::ForResult, false, [this] { return ApplyFilterHere(); });
}

bool TKelNetMonitor::ApplyFilterHere() {
  if (!FBound.load()) return true;
  const std::string list = get_FilterIP();
  const bool result = Driver_SetFilter(list);
  if (!result) {
    if (list.empty())
      DNetError("Failed to install standard ip filter");
    else
      DNetError("Failed to install ip filter " + list);
  }
  return result;
}

void TKelNetMonitor::FilterAllIP() {
  set_FilterIP(std::string());
}

// --- the local host's addresses ----------------------------------------------------------
// Its IPv4 addresses as a filter list. Linux needs no socket-library
// start-up, so only the host-name read, the resolution and the address text
// remain.

std::string TKelNetMonitor::get_LocalIPs() {
  std::string list;
  char hostName[256] = {};
  if (gethostname(hostName, 255) != 0) return list;
  hostName[255] = '\0';

  // The reentrant form keeps the resolver's order (as gethostbyname does)
  // without sharing its static result with other threads.
  hostent entry{};
  hostent* result = nullptr;
  int herr = 0;
  std::vector<char> buffer(1024);
  for (;;) {
    const int rc = gethostbyname_r(hostName, &entry, buffer.data(), buffer.size(), &result, &herr);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0) result = nullptr;
    break;
  }
  if (!result || result->h_addrtype != AF_INET || result->h_length < 4) return list;

  for (char** address = result->h_addr_list; address && *address; ++address) {
    in_addr ipv4{};
    std::memcpy(&ipv4, *address, 4);
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &ipv4, text, sizeof text)) continue;
    if (!list.empty()) list += ",";
    list += text;
  }
  return list;
}

uint32_t TKelNetMonitor::IPStringToAddr(const std::string& text) {
  if (text.empty()) return 0;
  return inet_addr(text.c_str());
}

void TKelNetMonitor::FilterLocalIP() {
  set_FilterIP(get_LocalIPs());
}
