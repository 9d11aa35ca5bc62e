// netvane-dump: option parsing, shaped like tcpdump's; the work is done by
// file mode or live mode.
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/host_filter.h"
#include "capture/remote_name.h"
#include "capture/ssh_link.h"
#include "dump/conversations_mode.h"
#include "dump/file_mode.h"
#include "dump/follow_mode.h"
#include "dump/live_mode.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/saved_file.h"

#ifndef NETVANE_VERSION
#define NETVANE_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: netvane-dump [--no-broadcast] [-V] [-x] [--time] FILE...\n"
    "       netvane-dump [--no-broadcast] [-V] [-x] [--time] [-c COUNT] -r FILE [EXPR | -F FILE]\n"
    "       netvane-dump [--no-broadcast] [-c COUNT] -r FILE -w FILE [EXPR | -F FILE]\n"
    "       netvane-dump [--no-broadcast] [-V] [-x] [--time] -i ADAPTER [-c COUNT] [-f LIST]\n"
    "                    [EXPR | -F FILE]\n"
    "       netvane-dump [--no-broadcast] -i ADAPTER [-c COUNT] [-f LIST] -w FILE\n"
    "                    [-C SIZE] [-G SECONDS] [-W COUNT] [EXPR | -F FILE]\n"
    "       netvane-dump --conversations=eth|ip|ipv6|tcp|udp [-c COUNT]\n"
    "                    [-r FILE [EXPR] | FILE... | -i ADAPTER [EXPR]]\n"
    "       netvane-dump --follow=N[:client|:server] -r FILE [EXPR | -F FILE]\n"
    "       netvane-dump -D [ssh://[USER@]HOST[:PORT]] | --help | --version\n";

constexpr const char* kHelp =
    "Prints each frame as a packet-list row: number, source card, destination card,\n"
    "source IP, destination IP and protocol, joined by TAB. Frames are numbered from 1\n"
    "across all files, as one packet list would number them.\n"
    "\n"
    "  FILE            a pcap or pcapng capture; any other file of at most 786434\n"
    "                  bytes is one saved frame (its hex text, or its raw bytes)\n"
    "  EXPR            with -r or -i: only the frames this filter expression takes\n"
    "                  (pcap-filter(7), as tcpdump takes it; the arguments after\n"
    "                  the options, joined by blanks). With -r, the rows keep the\n"
    "                  numbers they have without EXPR; with -i, the kernel filters\n"
    "                  and the rows number the frames captured\n"
    "  -F FILE         the expression is FILE's text (# starts a comment)\n"
    "  -r FILE         read FILE (a capture, or a saved frame) and filter it\n"
    "  --no-broadcast  leave out frames to FF:FF:FF:FF:FF:FF (they take no number)\n"
    "  -V              after each row, the protocol tree: section names, then field\n"
    "                  lines as two blanks, the text, TAB and [start/count] of the\n"
    "                  field's characters in the hex dump\n"
    "  -x              after each row (and tree), the hex dump on one line\n"
    "  --time          end each row with the frame's time stamp (local date and\n"
    "                  time, microseconds, as tcpdump -tttt) and its length on the\n"
    "                  wire, each after a TAB\n"
    "  -D              list the capture adapters, numbered from 1;\n"
    "                  -D ssh://[USER@]HOST[:PORT] lists those of another host\n"
    "  -i ADAPTER      capture from ADAPTER (a name, or a number of the -D list)\n"
    "                  instead of reading files; ssh://[USER@]HOST[:PORT]/ADAPTER\n"
    "                  captures an adapter of another host over SSH, with the time\n"
    "                  stamps of that host's kernel and without the frames of the\n"
    "                  SSH connection itself. Ctrl-C, SIGTERM and SIGHUP end it;\n"
    "                  the counts go to standard error\n"
    "  -c COUNT        with -r or -i: stop after COUNT printed (or written) frames\n"
    "  -f LIST         with -i: capture only traffic of these hosts (IP addresses,\n"
    "                  comma-separated; may be repeated)\n"
    "  -w FILE         with -r or -i: write the frames to FILE in pcap format, with\n"
    "                  their time stamps and lengths, instead of printing rows\n"
    "                  (- is standard output); a write error ends the run, and\n"
    "                  FILE keeps every frame written completely\n"
    "  -C SIZE         with -i and -w: start a new file before a frame that would\n"
    "                  make the current one larger than SIZE million bytes\n"
    "  -G SECONDS      with -i and -w: start a new file with the first frame\n"
    "                  captured SECONDS or more after the current file started; FILE\n"
    "                  may hold strftime(3) conversions (cap-%Y%m%d-%H%M%S.pcap),\n"
    "                  filled in with the local time at which each file starts\n"
    "  -W COUNT        with -C or -G: keep at most COUNT files, overwriting the\n"
    "                  oldest\n"
    "  --conversations=eth|ip|ipv6|tcp|udp\n"
    "                  instead of rows, the conversations of that layer (TCP and\n"
    "                  UDP over IPv4 and IPv6), after the files are read or the\n"
    "                  capture ends: a header line, then one line per conversation\n"
    "                  in order of its first frame, 14 cells joined by TAB: address\n"
    "                  A, port A, address B, port B (A sent the first frame; ports\n"
    "                  empty but for tcp and udp), frames, bytes (lengths on the\n"
    "                  wire), frames and bytes A->B, frames and bytes B->A, start\n"
    "                  (seconds after the first frame read), duration (seconds),\n"
    "                  bits/s A->B and B->A (empty for a duration of 0). With -c,\n"
    "                  only the first COUNT frames (that EXPR takes) count\n"
    "  --follow=N      instead of rows, TCP stream N (numbered from 0, as the\n"
    "                  lines of --conversations=tcp) of one capture file: its\n"
    "                  payload in order, as turns headed \"==> CLIENT to SERVER\" and\n"
    "                  \"<== SERVER to CLIENT\", unprintable bytes as \".\" and bytes\n"
    "                  never captured as \"[N bytes missing]\". The client sent the\n"
    "                  first SYN, or else the stream's first frame\n"
    "  --follow=N:client, --follow=N:server\n"
    "                  that side's bytes, raw, exactly as reassembled: each byte\n"
    "                  once, in order; bytes never captured are left out, and\n"
    "                  standard error says how many\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "COUNT, SIZE and SECONDS are whole numbers from 1 to 2147483647.\n"
    "\n"
    "Files of -C and -G are named as tcpdump names them: FILE, then FILE1, FILE2,\n"
    "and so on (with -G, each new name the time gives starts again without a\n"
    "number). With -W COUNT they are FILE0 to FILE<COUNT-1>, the numbers padded with\n"
    "zeros to one width (FILE00 to FILE11 for -W 12), and after the last FILE0 is\n"
    "overwritten. A frame is never split between files; each is a capture of its own.\n"
    "\n"
    "Another host is reached with ssh -T -o BatchMode=yes, so it must take a key or\n"
    "an agent, never a password. It runs its own capture helper, which its user\n"
    "may run when in its group netvane. NETVANE_SSH replaces the ssh command\n"
    "(NETVANE_SSH='ssh -F my_config'; split into words with ' \" and \\ quoting, no\n"
    "shell); NETVANE_REMOTE_HELPER names the helper on the other hosts when it is\n"
    "not /usr/libexec/netvane/netvane-capture.\n"
    "\n"
    "Exit status: 0 success (a capture ended by a signal included); 1 a file could\n"
    "not be read to its end, a capture failed or could not be written, or its\n"
    "kernel counters could not be read; 2 usage error, a bad filter expression, a\n"
    "capture whose link type is not Ethernet, or a --follow stream it does not have.\n";
static_assert(netvane::kMaxFrameFileBytes == 786434, "the help text names the largest saved frame's file");

// The largest COUNT, SIZE, SECONDS or adapter number: frames are numbered
// with 32-bit signed counts.
constexpr uint64_t kMaxNumber = std::numeric_limits<int32_t>::max();

// The largest expression file -F reads; far more than any filter needs.
constexpr std::size_t kMaxExpressionFileBytes = 1 << 20;

struct Options {
  netvane::LiveOptions live;  // its print options serve file mode too
  // The arguments that are no options: files, or with -r and -i the words
  // of the filter expression.
  std::vector<std::string> args;
  std::string readFile;        // -r
  std::string expressionFile;  // -F
  bool listAdapters = false;
  bool help = false;
  bool version = false;
  // Which options were given, for the checks of how they go together.
  bool haveAdapter = false, haveRead = false, haveCount = false, haveFilter = false, haveWrite = false;
  bool haveSize = false, haveSeconds = false, haveRing = false, haveExpressionFile = false;
  bool haveConversations = false, haveFollow = false;
  netvane::ConversationKind conversations = netvane::ConversationKind::Ethernet;  // --conversations
  netvane::FollowOptions follow;                                                  // --follow
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "netvane-dump: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// A whole decimal number from 1 to kMaxNumber, nothing else.
bool ParseNumber(std::string_view text, uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value >= 1 && value <= kMaxNumber;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// -f: IPv4 or IPv6 addresses separated by commas, blanks around them allowed.
// An empty text when every item is one, else why not.
std::string SplitHostList(std::string_view text, std::vector<std::string>& into) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  const std::string accepts =
      "; a host list is IP addresses separated by commas (-f 10.0.0.1,10.0.0.2), "
      "and a filter expression goes after the options";
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string item(TrimBlanks(text.substr(0, comma)));
    if (item.empty()) return "option -f " + quoted + ": an empty item" + accepts;
    unsigned char address[sizeof(in6_addr)];
    if (inet_pton(AF_INET, item.c_str(), address) != 1 && inet_pton(AF_INET6, item.c_str(), address) != 1)
      return "option -f " + quoted + ": \"" + item + "\" is not an IP address" + accepts;
    into.push_back(item);
    if (comma == std::string_view::npos) return {};
    text.remove_prefix(comma + 1);
  }
}

// Takes the value of option `letter`; an empty text when it is good, else why not.
std::string TakeValue(char letter, std::string_view value, Options& o) {
  const std::string quoted = "\"" + std::string(value) + "\"";
  uint64_t number = 0;
  switch (letter) {
    case 'i':
      if (value.empty()) return "option -i needs an adapter name";
      o.live.adapter = value;
      o.live.adapterNumber = -1;
      if (netvane::IsRemoteName(value)) {
        // Named as the driver names it, so that the capture finds it.
        netvane::RemoteTarget remote;
        std::string error;
        if (!netvane::ParseRemoteAdapter(value, remote, error)) return "option -i " + quoted + ": " + error;
        o.live.adapter = remote.AdapterName();
        o.haveAdapter = true;
        return {};
      }
      if (AllDigits(value)) {
        // 0 is no number of the list (it counts from 1), but may be a name.
        if (value.find_first_not_of('0') == std::string_view::npos)
          o.live.adapterNumber = 0;
        else if (ParseNumber(value, number))
          o.live.adapterNumber = static_cast<int>(number);
        else
          return "option -i: adapter number " + std::string(value) + " is out of range";
      }
      o.haveAdapter = true;
      return {};
    case 'r':
      if (value.empty()) return "option -r needs a file name";
      if (o.haveRead) return "give -r once";
      o.readFile = value;
      o.haveRead = true;
      return {};
    case 'F':
      if (value.empty()) return "option -F needs a file name";
      o.expressionFile = value;
      o.haveExpressionFile = true;
      return {};
    case 'c':
      if (!ParseNumber(value, o.live.count)) return "option -c needs a positive count, not " + quoted;
      o.haveCount = true;
      return {};
    case 'w':
      if (value.empty()) return "option -w needs a file name";
      o.live.writeFile = value;
      o.haveWrite = true;
      return {};
    case 'C':
      if (!ParseNumber(value, number)) return "option -C needs a size in millions of bytes, not " + quoted;
      o.live.rotation.maxFileBytes = number * 1000000;
      o.haveSize = true;
      return {};
    case 'G':
      if (!ParseNumber(value, number)) return "option -G needs a number of seconds, not " + quoted;
      o.live.rotation.seconds = static_cast<uint32_t>(number);
      o.haveSeconds = true;
      return {};
    case 'W':
      if (!ParseNumber(value, number)) return "option -W needs a number of files, not " + quoted;
      o.live.rotation.ringFiles = static_cast<uint32_t>(number);
      o.haveRing = true;
      return {};
    default:  // 'f'
      o.haveFilter = true;
      return SplitHostList(value, o.live.filters);
  }
}

// One argument of short options: flags may be grouped (-Vx), and a value
// follows its letter or comes as the next argument. `i` moves past a value
// that comes next.
std::string TakeShortOptions(int argc, char** argv, int& i, Options& o) {
  const std::string_view arg = argv[i];
  for (std::size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    if (letter == 'V') {
      o.live.verbose = true;
    } else if (letter == 'x') {
      o.live.hex = true;
    } else if (letter == 'D') {
      o.listAdapters = true;
    } else if (std::string_view("icfwCGWrF").find(letter) == std::string_view::npos) {
      return std::string("unknown option -") + letter;
    } else if (k + 1 < arg.size()) {
      return TakeValue(letter, arg.substr(k + 1), o);
    } else if (i + 1 < argc) {
      return TakeValue(letter, argv[++i], o);
    } else {
      return std::string("option -") + letter + " needs a value";
    }
  }
  return {};
}

// Reads the arguments in order; stops at --help and --version. Options may
// come after other arguments, as tcpdump takes them. An empty text when all
// are good, else the first fault.
std::string Parse(int argc, char** argv, Options& o) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.args.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      o.help = true;
      return {};
    } else if (arg == "--version") {
      o.version = true;
      return {};
    } else if (arg == "--no-broadcast") {
      o.live.noBroadcast = true;
    } else if (arg == "--time") {
      o.live.time = true;
    } else if (arg.starts_with("--conversations=")) {
      const std::string_view kind = arg.substr(arg.find('=') + 1);
      if (!netvane::ConversationKindNamed(kind, o.conversations))
        return "option --conversations takes eth, ip, ipv6, tcp or udp, not \"" + std::string(kind) + "\"";
      o.haveConversations = true;
    } else if (arg.starts_with("--follow=")) {
      if (std::string error = netvane::ParseFollow(arg.substr(arg.find('=') + 1), o.follow); !error.empty())
        return error;
      o.haveFollow = true;
    } else if (arg.starts_with("--")) {
      return "unknown option " + std::string(arg);
    } else if (std::string error = TakeShortOptions(argc, argv, i, o); !error.empty()) {
      return error;
    }
  }
  return {};
}

constexpr const char* kListTakesNothing = "-D takes no adapter and no files";

// -D ssh://[USER@]HOST[:PORT]: the host whose adapters are listed, into
// `host`; an empty text when it is one (or -D has no host), else why not.
std::string RemoteHostToList(const Options& o, netvane::RemoteTarget& host) {
  if (o.args.empty()) return {};
  if (o.args.size() > 1 || !netvane::IsRemoteName(o.args[0])) return kListTakesNothing;
  std::string error;
  if (!netvane::ParseRemoteHost(o.args[0], host, error)) return "-D \"" + o.args[0] + "\": " + error;
  return {};
}

// How the options go together; an empty text when they do.
std::string Validate(const Options& o) {
  if (o.listAdapters) {
    netvane::RemoteTarget host;
    return o.haveAdapter || o.haveRead ? kListTakesNothing : RemoteHostToList(o, host);
  }
  const bool liveOnly = o.haveFilter || o.haveSize || o.haveSeconds || o.haveRing;
  if (o.haveConversations || o.haveFollow) {
    if (o.haveConversations && o.haveFollow) return "give either --conversations or --follow, not both";
    if (o.haveWrite || o.live.verbose || o.live.hex || o.live.time)
      return "--conversations and --follow print no rows: -w, -V, -x and --time do not go with them";
    if (o.haveFollow && o.haveCount) return "--follow reads the whole file: -c does not go with it";
    if (o.haveFollow && (o.haveAdapter || (!o.haveRead && o.args.size() != 1)))
      return "--follow reads one capture file: -r FILE [EXPR], or FILE";
  }
  if (o.haveAdapter && o.haveRead) return "give either -i ADAPTER or -r FILE, not both";
  if (!o.haveAdapter && liveOnly) return "-f, -C, -G and -W belong to live capture (-i ADAPTER)";
  if (!o.haveAdapter && !o.haveRead) {
    if (o.haveCount || o.haveWrite || o.haveExpressionFile) return "-c, -w and -F need -r FILE or -i ADAPTER";
    return o.args.empty() ? "no file given" : "";
  }
  if (o.haveExpressionFile && !o.args.empty())
    return "give the filter expression either with -F FILE or as arguments, not both";
  if (o.haveWrite && (o.live.verbose || o.live.hex || o.live.time))
    return "-V, -x and --time print rows; -w prints none";
  if ((o.haveSize || o.haveSeconds || o.haveRing) && !o.haveWrite) return "-C, -G and -W need -w FILE";
  if ((o.haveSize || o.haveSeconds) && o.live.writeFile == "-")
    return "-C and -G write files, not standard output";
  if (o.haveRing && !o.haveSize && !o.haveSeconds) return "-W needs -C or -G";
  return {};
}

// Every file is looked at before anything is printed. A name that is no
// file is most likely a filter expression given without -r: a usage error
// that says how to give one. Another failure to open (no permission) is the
// file's own: status 1.
int CheckFiles(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      continue;
    }
    const int error = errno;
    if (error == ENOENT)
      return UsageError(file + ": " + std::strerror(error) +
                        " (to read a capture through a filter expression: netvane-dump -r FILE EXPR)");
    std::fprintf(stderr, "netvane-dump: %s: %s\n", file.c_str(), std::strerror(error));
    return 1;
  }
  return 0;
}

// -F FILE: its text, with each # and the rest of its line blanked out as
// tcpdump reads such a file. False, with why, when it cannot be read.
bool ReadExpressionFile(const std::string& path, std::string& text, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  text.assign(kMaxExpressionFileBytes + 1, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), f);
  const bool failed = std::ferror(f) != 0;
  const int readError = errno;
  std::fclose(f);
  if (failed) {
    error = std::strerror(readError);
    return false;
  }
  if (got > kMaxExpressionFileBytes) {
    error = "longer than " + std::to_string(kMaxExpressionFileBytes) + " bytes";
    return false;
  }
  text.resize(got);
  bool comment = false;
  for (char& c : text) {
    if (c == '#') comment = true;
    if (c == '\n') comment = false;
    if (comment) c = ' ';
  }
  return true;
}

// The filter expression of -r or -i: -F's file, or the remaining arguments
// joined by blanks. False after saying why -F's file cannot be read.
bool TakeExpression(Options& o) {
  if (o.haveExpressionFile) {
    std::string error;
    if (ReadExpressionFile(o.expressionFile, o.live.expression, error)) return true;
    UsageError("option -F: cannot read " + o.expressionFile + ": " + error);
    return false;
  }
  for (const std::string& word : o.args) {
    if (!o.live.expression.empty()) o.live.expression += ' ';
    o.live.expression += word;
  }
  return true;
}

int BadExpression(const std::string& expression, const std::string& error) {
  std::fprintf(stderr, "netvane-dump: filter expression \"%s\": %s\n", expression.c_str(), error.c_str());
  return 2;
}

int Run(Options& o) {
  if (o.listAdapters && !o.args.empty()) {
    netvane::RemoteTarget host;
    RemoteHostToList(o, host);
    return netvane::RunListRemoteAdapters(host);
  }
  if (o.listAdapters) return netvane::RunListAdapters();
  if ((o.haveAdapter || o.haveRead) && !TakeExpression(o)) return 2;
  if (o.haveAdapter) {
    // Checked here as the driver compiles it, so that a bad one is told
    // before any capture starts; any netmask serves, since the driver
    // compiles again with the adapter's own.
    std::vector<netvane::helper::FilterInstruction> program;
    std::string error;
    if (!netvane::CompileFilter(o.live.expression, netvane::capture_settings::kSnapshotLength, 0xFFFFFFFF,
                                program, error))
      return BadExpression(o.live.expression, error);
    if (!o.haveConversations) return netvane::RunLiveCapture(o.live);
    netvane::ConversationTable table;
    o.live.conversations = &table;
    const int status = netvane::RunLiveCapture(o.live);
    if (!netvane::PrintConversations(table, o.conversations, stdout)) return 1;
    return status;
  }
  netvane::FrameFilter filter;
  if (o.haveRead) {
    std::string error;
    if (!filter.Compile(o.live.expression, error)) return BadExpression(o.live.expression, error);
  }
  const std::vector<std::string> files = o.haveRead ? std::vector<std::string>{o.readFile} : o.args;
  if (const int status = CheckFiles(files); status != 0) return status;
  // Full buffering even on a terminal; RowPrinter writes in large pieces anyway.
  static char stdoutBuffer[1 << 16];
  std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  if (o.haveConversations)
    return netvane::RunConversations(files, o.conversations, o.haveRead ? &filter : nullptr,
                                     o.live.noBroadcast, o.live.count, stdout, stderr);
  if (o.haveFollow) {
    o.follow.filter = o.haveRead ? &filter : nullptr;
    return netvane::RunFollow(files[0], o.follow, stdout, stderr);
  }
  netvane::FileModeOptions options;
  options.print = {o.live.noBroadcast, o.live.verbose, o.live.hex, o.live.time};
  options.filter = o.haveRead ? &filter : nullptr;
  options.count = o.live.count;
  options.writeFile = o.live.writeFile;
  return netvane::RunFileMode(files, options, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (std::string error = Parse(argc, argv, options); !error.empty()) return UsageError(error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("netvane-dump %s\n", NETVANE_VERSION);
    return 0;
  }
  if (std::string error = Validate(options); !error.empty()) return UsageError(error);
  return Run(options);
}
