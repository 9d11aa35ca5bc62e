#pragma once
// Which adapters the helper opens: network interfaces whose frames are
// Ethernet, told by the hardware type the kernel gives the interface (what
// /sys/class/net/NAME/type shows), so that nothing else is ever opened, not
// even to learn its link type. The driver lists adapters by the same rule.

#include <string>
#include <vector>

namespace netvane::helper {

enum class AdapterKind {
  Ethernet,     // an Ethernet or loopback interface: the helper opens it
  NotEthernet,  // an interface of another hardware type, or a capture library device
  Missing,      // no such interface in this network namespace
};

struct AdapterCheck {
  AdapterKind kind = AdapterKind::Missing;
  std::string reason;  // for a person, when not Ethernet
};

// Asks the network namespace this process is in (whatever /sys shows); one
// instance answers any number of questions.
class AdapterChecker {
 public:
  AdapterChecker();
  ~AdapterChecker();
  AdapterChecker(const AdapterChecker&) = delete;
  AdapterChecker& operator=(const AdapterChecker&) = delete;

  AdapterCheck Check(const std::string& name) const;
  // The interfaces of the namespace that Check calls Ethernet, in the order
  // of their index; nothing is opened and no library module is asked.
  std::vector<std::string> EthernetInterfaces() const;

 private:
  int fd_;
};

}  // namespace netvane::helper
