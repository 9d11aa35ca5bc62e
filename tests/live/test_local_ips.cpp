// The local-address list, resolved in a child process that has a host name and
// a hosts file of its own (UTS and mount namespaces), so the machine's real
// name and resolver play no part.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

#include "capture/KelNetMonitor.h"
#include "tests/live/veth_lab.h"

namespace {

struct HostsCase {
  const char* name;
  const char* hostName;
  const char* hostsFile;
  const char* expected;
};

// Runs get_LocalIPs in a child with `hostName` and `hostsFile` in place; the
// child's text comes back through a pipe. Empty optional: could not set up.
std::optional<std::string> LocalIPsWith(const HostsCase& c, std::string& why) {
  const std::string dir = "/tmp/nvhosts" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  std::ofstream(dir + "/hosts") << c.hostsFile;
  std::ofstream(dir + "/nsswitch.conf") << "hosts: files\n";
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    auto fail = [&](char code) {
      (void)!write(fds[1], &code, 1);
      _exit(1);
    };
    if (unshare(CLONE_NEWUTS | CLONE_NEWNS) != 0) fail('u');
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail('p');
    if (mount((dir + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) fail('h');
    if (mount((dir + "/nsswitch.conf").c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
      fail('n');
    if (sethostname(c.hostName, strlen(c.hostName)) != 0) fail('s');
    const std::string text = "=" + TKelNetMonitor::get_LocalIPs();
    (void)!write(fds[1], text.data(), text.size());
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  waitpid(child, nullptr, 0);
  std::remove((dir + "/hosts").c_str());
  std::remove((dir + "/nsswitch.conf").c_str());
  rmdir(dir.c_str());
  if (out.empty() || out[0] != '=') {
    why = "child could not set up its host name and hosts file (step " + out + ")";
    return std::nullopt;
  }
  return out.substr(1);
}

TEST(LocalIPs, ResolvedFromTheHostNameInResolverOrder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for UTS and mount namespaces";
  const HostsCase cases[] = {
      {"two addresses", "nvhost-two", "192.168.0.5 nvhost-two\n10.0.0.2 nvhost-two\n",
       "192.168.0.5,10.0.0.2"},
      {"one address", "nvhost-one", "10.1.2.3 nvhost-one\n", "10.1.2.3"},
      {"IPv6 only is left out", "nvhost-six", "fd00::1 nvhost-six\n", ""},
      {"name not resolvable", "nvhost-none", "10.9.9.9 somebody-else\n", ""},
  };
  for (const HostsCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    const auto got = LocalIPsWith(c, why);
    if (!got) GTEST_SKIP() << why;
    EXPECT_EQ(*got, c.expected);
  }
}

}  // namespace
