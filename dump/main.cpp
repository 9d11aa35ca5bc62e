// netvane-dump: option parsing; the work is done by file mode or live mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dump/file_mode.h"
#include "dump/live_mode.h"

#ifndef NETVANE_VERSION
#define NETVANE_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: netvane-dump [--no-broadcast] [-V] [-x] FILE...\n"
    "       netvane-dump [--no-broadcast] [-V] [-x] -i ADAPTER [-c COUNT] [-f LIST]\n"
    "       netvane-dump [--no-broadcast] -i ADAPTER [-c COUNT] [-f LIST] -w FILE\n"
    "       netvane-dump -D | --help | --version\n";

constexpr const char* kHelp =
    "Prints each frame as a packet-list row: number, source card, destination card,\n"
    "source IP, destination IP and protocol, joined by TAB. Frames are numbered from 1\n"
    "across all files, as one packet list would number them.\n"
    "\n"
    "  FILE            a pcap or pcapng capture; any other file is one raw frame\n"
    "  --no-broadcast  leave out frames to FF:FF:FF:FF:FF:FF (they take no number)\n"
    "  -V              after each row, the protocol tree: section names, then field\n"
    "                  lines as two blanks, the text, TAB and [start/count] of the\n"
    "                  field's characters in the hex dump\n"
    "  -x              after each row (and tree), the hex dump on one line\n"
    "  -D              list the capture adapters\n"
    "  -i ADAPTER      capture from ADAPTER instead of reading files\n"
    "  -c COUNT        with -i: stop after COUNT printed (or written) frames\n"
    "  -f LIST         with -i: capture only traffic of these hosts (comma-separated,\n"
    "                  may be repeated)\n"
    "  -w FILE         with -i: write the frames to FILE in pcap format, with the\n"
    "                  capture's time stamps and lengths, instead of printing rows\n"
    "                  (- is standard output); a write error ends the capture, and\n"
    "                  FILE keeps every frame written completely\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be read to its end, or a capture\n"
    "failed or could not be written; 2 usage error or a capture whose link type is\n"
    "not Ethernet.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "netvane-dump: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool ParseCount(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
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

}  // namespace

int main(int argc, char** argv) {
  netvane::LiveOptions live;
  bool listAdapters = false;
  bool haveAdapter = false, haveCount = false, haveFilter = false, haveWrite = false;
  std::vector<std::string> files;

  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("netvane-dump %s\n", NETVANE_VERSION);
      return 0;
    } else if (arg == "--no-broadcast") {
      live.noBroadcast = true;
    } else if (arg.starts_with("--")) {
      return UsageError("unknown option " + std::string(arg));
    } else {
      // Short options; flags may be grouped (-Vx), a value follows its letter or comes next.
      for (std::size_t k = 1; k < arg.size(); ++k) {
        const char letter = arg[k];
        if (letter == 'V') {
          live.verbose = true;
          continue;
        }
        if (letter == 'x') {
          live.hex = true;
          continue;
        }
        if (letter == 'D') {
          listAdapters = true;
          continue;
        }
        if (letter != 'i' && letter != 'c' && letter != 'f' && letter != 'w')
          return UsageError(std::string("unknown option -") + letter);
        std::string_view value;
        if (k + 1 < arg.size())
          value = arg.substr(k + 1);
        else if (i + 1 < argc)
          value = argv[++i];
        else
          return UsageError(std::string("option -") + letter + " needs a value");
        if (letter == 'i') {
          if (value.empty()) return UsageError("option -i needs an adapter name");
          live.adapter = value;
          haveAdapter = true;
        } else if (letter == 'c') {
          if (!ParseCount(value, live.count) || live.count == 0)
            return UsageError("option -c needs a positive count, not \"" + std::string(value) + "\"");
          haveCount = true;
        } else if (letter == 'w') {
          if (value.empty()) return UsageError("option -w needs a file name");
          live.writeFile = value;
          haveWrite = true;
        } else {
          SplitList(value, live.filters);
          haveFilter = true;
        }
        break;
      }
    }
  }

  if (listAdapters) {
    if (haveAdapter || !files.empty()) return UsageError("-D takes no adapter and no files");
    return netvane::RunListAdapters();
  }
  if (haveAdapter) {
    if (!files.empty()) return UsageError("give either -i ADAPTER or files, not both");
    if (haveWrite && (live.verbose || live.hex)) return UsageError("-V and -x print rows; -w prints none");
    return netvane::RunLiveCapture(live);
  }
  if (haveCount || haveFilter || haveWrite)
    return UsageError("-c, -f and -w belong to live capture (-i ADAPTER)");
  if (files.empty()) return UsageError("no file given");

  // Full buffering even on a terminal; RowPrinter writes in large pieces anyway.
  static char stdoutBuffer[1 << 16];
  std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
  const netvane::PrintOptions print{live.noBroadcast, live.verbose, live.hex};
  return netvane::RunFileMode(files, print, stdout, stderr);
}
