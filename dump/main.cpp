// netvane-dump: option parsing; the work is done by file mode or live mode.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "capture/remote_name.h"
#include "capture/ssh_link.h"
#include "dump/file_mode.h"
#include "dump/live_mode.h"
#include "pcapfile/saved_file.h"

#ifndef NETVANE_VERSION
#define NETVANE_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: netvane-dump [--no-broadcast] [-V] [-x] FILE...\n"
    "       netvane-dump [--no-broadcast] [-V] [-x] -i ADAPTER [-c COUNT] [-f LIST]\n"
    "       netvane-dump [--no-broadcast] -i ADAPTER [-c COUNT] [-f LIST] -w FILE\n"
    "                    [-C SIZE] [-G SECONDS] [-W COUNT]\n"
    "       netvane-dump -D [ssh://[USER@]HOST[:PORT]] | --help | --version\n";

constexpr const char* kHelp =
    "Prints each frame as a packet-list row: number, source card, destination card,\n"
    "source IP, destination IP and protocol, joined by TAB. Frames are numbered from 1\n"
    "across all files, as one packet list would number them.\n"
    "\n"
    "  FILE            a pcap or pcapng capture; any other file of at most 786434\n"
    "                  bytes is one saved frame (its hex text, or its raw bytes)\n"
    "  --no-broadcast  leave out frames to FF:FF:FF:FF:FF:FF (they take no number)\n"
    "  -V              after each row, the protocol tree: section names, then field\n"
    "                  lines as two blanks, the text, TAB and [start/count] of the\n"
    "                  field's characters in the hex dump\n"
    "  -x              after each row (and tree), the hex dump on one line\n"
    "  -D              list the capture adapters; -D ssh://[USER@]HOST[:PORT]\n"
    "                  lists those of another host, over SSH\n"
    "  -i ADAPTER      capture from ADAPTER (a name, or a number of the -D list)\n"
    "                  instead of reading files; ssh://[USER@]HOST[:PORT]/ADAPTER\n"
    "                  captures an adapter of another host over SSH, with the time\n"
    "                  stamps of that host's kernel and without the frames of the\n"
    "                  SSH connection itself\n"
    "  -c COUNT        with -i: stop after COUNT printed (or written) frames\n"
    "  -f LIST         with -i: capture only traffic of these hosts (comma-separated,\n"
    "                  may be repeated)\n"
    "  -w FILE         with -i: write the frames to FILE in pcap format, with the\n"
    "                  capture's time stamps and lengths, instead of printing rows\n"
    "                  (- is standard output); a write error ends the capture, and\n"
    "                  FILE keeps every frame written completely\n"
    "  -C SIZE         with -w: start a new file before a frame that would make the\n"
    "                  current one larger than SIZE million bytes (1,000,000)\n"
    "  -G SECONDS      with -w: start a new file with the first frame captured\n"
    "                  SECONDS or more after the current file started; FILE may hold\n"
    "                  strftime(3) conversions (cap-%Y%m%d-%H%M%S.pcap), filled in\n"
    "                  with the local time at which each file starts\n"
    "  -W COUNT        with -C or -G: keep at most COUNT files, overwriting the\n"
    "                  oldest\n"
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
    "Exit status: 0 success; 1 a file could not be read to its end, a capture failed\n"
    "or could not be written, or its kernel counters could not be read; 2 usage\n"
    "error or a capture whose link type is not Ethernet.\n";
static_assert(netvane::kMaxFrameFileBytes == 786434, "the help text names the largest saved frame's file");

// The largest COUNT, SIZE, SECONDS or adapter number: frames are numbered
// with 32-bit signed counts.
constexpr uint64_t kMaxNumber = std::numeric_limits<int32_t>::max();

struct Options {
  netvane::LiveOptions live;  // its print options serve file mode too
  std::vector<std::string> files;
  bool listAdapters = false;
  bool help = false;
  bool version = false;
  // Which options were given, for the checks of how they go together.
  bool haveAdapter = false, haveCount = false, haveFilter = false, haveWrite = false;
  bool haveSize = false, haveSeconds = false, haveRing = false;
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

void SplitList(std::string_view text, std::vector<std::string>& into) {
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    if (!item.empty()) into.emplace_back(item);
    if (comma == std::string_view::npos) break;
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
        if (netvane::SshCommand ssh; !netvane::SshCommandFromEnvironment(ssh, error)) return error;
        o.live.adapter = remote.AdapterName();
        o.haveAdapter = true;
        return {};
      }
      if (AllDigits(value)) {
        // Zero is a place in the list too.
        if (value.find_first_not_of('0') == std::string_view::npos)
          o.live.adapterNumber = 0;
        else if (ParseNumber(value, number))
          o.live.adapterNumber = static_cast<int>(number);
        else
          return "option -i: adapter number " + std::string(value) + " is out of range";
      }
      o.haveAdapter = true;
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
      SplitList(value, o.live.filters);
      o.haveFilter = true;
      return {};
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
    } else if (std::string_view("icfwCGW").find(letter) == std::string_view::npos) {
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

// Reads the arguments in order; stops at --help and --version. An empty text
// when all are good, else the first fault.
std::string Parse(int argc, char** argv, Options& o) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o.files.emplace_back(arg);
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
  if (o.files.empty()) return {};
  if (o.files.size() > 1 || !netvane::IsRemoteName(o.files[0])) return kListTakesNothing;
  std::string error;
  if (!netvane::ParseRemoteHost(o.files[0], host, error)) return "-D \"" + o.files[0] + "\": " + error;
  if (netvane::SshCommand ssh; !netvane::SshCommandFromEnvironment(ssh, error)) return error;
  return {};
}

// How the options go together; an empty text when they do.
std::string Validate(const Options& o) {
  if (o.listAdapters) {
    netvane::RemoteTarget host;
    return o.haveAdapter ? kListTakesNothing : RemoteHostToList(o, host);
  }
  if (!o.haveAdapter) {
    if (o.haveCount || o.haveFilter || o.haveWrite || o.haveSize || o.haveSeconds || o.haveRing)
      return "-c, -f, -w, -C, -G and -W belong to live capture (-i ADAPTER)";
    return o.files.empty() ? "no file given" : "";
  }
  if (!o.files.empty()) return "give either -i ADAPTER or files, not both";
  if (o.haveWrite && (o.live.verbose || o.live.hex)) return "-V and -x print rows; -w prints none";
  if ((o.haveSize || o.haveSeconds || o.haveRing) && !o.haveWrite) return "-C, -G and -W need -w FILE";
  if ((o.haveSize || o.haveSeconds) && o.live.writeFile == "-")
    return "-C and -G write files, not standard output";
  if (o.haveRing && !o.haveSize && !o.haveSeconds) return "-W needs -C or -G";
  return {};
}

int Run(const Options& o) {
  if (o.listAdapters && !o.files.empty()) {
    netvane::RemoteTarget host;
    RemoteHostToList(o, host);
    return netvane::RunListRemoteAdapters(host);
  }
  if (o.listAdapters) return netvane::RunListAdapters();
  if (o.haveAdapter) return netvane::RunLiveCapture(o.live);
  // Full buffering even on a terminal; RowPrinter writes in large pieces anyway.
  static char stdoutBuffer[1 << 16];
  std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  const netvane::PrintOptions print{o.live.noBroadcast, o.live.verbose, o.live.hex};
  return netvane::RunFileMode(o.files, print, stdout, stderr);
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
