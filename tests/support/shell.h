#pragma once
// Shell commands for the tests that build their own network namespaces.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace netvane::testing {

// Runs `command` through /bin/sh with its output discarded; its exit status, -1 when it did not exit.
inline int Sh(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first line `command` prints, without its line end.
inline std::string ShLine(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    if (fgets(buf, sizeof buf, p)) out = buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace netvane::testing
