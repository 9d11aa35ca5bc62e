#pragma once
// The command that reaches another host: ssh, or what NETVANE_SSH names in
// its place (for example NETVANE_SSH='ssh -F my_config'), as GIT_SSH_COMMAND
// does for git. NETVANE_SSH is split into words as a shell would, with
// '...', "..." and \ quoting but without a shell: no variables, ~ or
// wildcards. Its options come before the driver's, and ssh keeps the first
// value it is given, so a ConnectTimeout there is the one ssh uses; every
// wait for a remote helper is bounded by it. The text is therefore read
// strictly: a value that cannot be used is refused, with why, never guessed.

#include <string>
#include <string_view>
#include <vector>

namespace netvane {

// How long ssh may take to connect, unless NETVANE_SSH sets its own
// ConnectTimeout. Every failure to reach a host is reported within this and
// one second more.
inline constexpr int kSshConnectTimeoutS = 5;
// The longest ConnectTimeout taken from NETVANE_SSH: an hour.
inline constexpr int kMaxSshConnectTimeoutS = 3600;

struct SshCommand {
  std::vector<std::string> words{"ssh"};      // the program and its options
  int connectTimeoutS = kSshConnectTimeoutS;  // the ConnectTimeout ssh will use
};

// Splits `text` into words as a shell would, without expanding anything.
// False, with why in `error`, for an unfinished quote or a trailing '\'.
bool SplitWords(std::string_view text, std::vector<std::string>& words, std::string& error);

// Reads `text` as NETVANE_SSH's value; the empty text is plain ssh. False,
// with a sentence that names NETVANE_SSH in `error`, when it cannot be split,
// names no command, begins with an option, ends with an option that lacks its
// value, or sets a ConnectTimeout that is not a time from 1 s to
// kMaxSshConnectTimeoutS (ssh's forms: 10, 10s, 2m, 1m30s).
bool ParseSshCommand(std::string_view text, SshCommand& out, std::string& error);

// This process's NETVANE_SSH, read with ParseSshCommand.
bool SshCommandFromEnvironment(SshCommand& out, std::string& error);

}  // namespace netvane
