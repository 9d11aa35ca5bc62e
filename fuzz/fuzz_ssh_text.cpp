// The texts remote capture takes from its user and from sshd: NETVANE_SSH,
// ssh:// names of hosts and adapters, and the SSH_CONNECTION text a helper
// started over SSH reports. None may abort, whatever the bytes; what is
// taken must also be what the rest of the program relies on.
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/remote_name.h"
#include "capture/ssh_command.h"
#include "helper/ssh_connection.h"

using namespace netvane;

namespace {

// A word for a shell, quoted so that it stays one word whatever it holds.
std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void NetvaneSsh(std::string_view text) {
  SshCommand command;
  std::string error;
  if (!ParseSshCommand(text, command, error)) {
    if (error.rfind("NETVANE_SSH ", 0) != 0) __builtin_trap();  // every refusal names it and says why
    return;
  }
  if (command.words.empty() || command.words[0].empty() || command.words[0][0] == '-' ||
      command.connectTimeoutS < 1 || command.connectTimeoutS > kMaxSshConnectTimeoutS)
    __builtin_trap();
  // The words, each quoted, split back into the same words.
  std::string again;
  for (const std::string& word : command.words) again += Quoted(word) + " ";
  std::vector<std::string> words;
  if (!SplitWords(again, words, error) || words != command.words) __builtin_trap();
}

void Name(std::string_view text) {
  RemoteTarget target;
  std::string error;
  const bool adapter = ParseRemoteAdapter(text, target, error);
  if (!adapter && !ParseRemoteHost(text, target, error)) {
    if (error.empty()) __builtin_trap();
    return;
  }
  // Nothing ssh could take for an option.
  if (target.host.empty() || target.host[0] == '-' || (!target.user.empty() && target.user[0] == '-'))
    __builtin_trap();
  // What the adapter box and netvane-dump -D show reads back the same.
  RemoteTarget again;
  const bool same = adapter ? ParseRemoteAdapter(target.AdapterName(), again, error)
                            : ParseRemoteHost(target.HostText(), again, error);
  if (!same || again.user != target.user || again.host != target.host || again.port != target.port ||
      again.adapter != target.adapter)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  NetvaneSsh(text);
  Name(text);
  helper::SshConnection connection;
  if (helper::ParseSshConnection(text, connection) &&
      ((connection.client.family != 4 && connection.client.family != 6) || connection.client.port == 0 ||
       connection.server.port == 0))
    __builtin_trap();  // only numeric addresses and real ports are taken
  return 0;
}
