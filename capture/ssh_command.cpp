#include "capture/ssh_command.h"

#include <cstdlib>
#include <cstring>

namespace netvane {
namespace {

// ssh's options that take a value, in the word itself (-p22) or the next (-p 22).
constexpr std::string_view kOptionsWithValue = "bceilmopBDEFIJLOPQRSwW";
constexpr std::string_view kBlanks = " \t";

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

// A time as ssh reads one: numbers, each with an optional unit (s, m, h, d,
// w, either case), added up: 10, 10s, 2m, 1m30s. False for any other text
// and for more than kMaxSshConnectTimeoutS seconds.
bool ParseSshTime(std::string_view text, int& seconds) {
  if (text.empty()) return false;
  long long total = 0;
  for (size_t i = 0; i < text.size();) {
    if (!Digit(text[i])) return false;
    long long number = 0;
    for (; i < text.size() && Digit(text[i]); ++i) {
      number = number * 10 + (text[i] - '0');
      if (number > kMaxSshConnectTimeoutS) return false;
    }
    long long unit = 1;
    if (i < text.size()) {
      switch (text[i++]) {
        case 's':
        case 'S':
          break;
        case 'm':
        case 'M':
          unit = 60;
          break;
        case 'h':
        case 'H':
          unit = 60 * 60;
          break;
        case 'd':
        case 'D':
          unit = 24 * 60 * 60;
          break;
        case 'w':
        case 'W':
          unit = 7 * 24 * 60 * 60;
          break;
        default:
          return false;
      }
    }
    total += number * unit;
    if (total > kMaxSshConnectTimeoutS) return false;
  }
  if (total < 1) return false;
  seconds = static_cast<int>(total);
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameKeyword(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One -o value, read as ssh reads a configuration line ("Keyword value",
// "Keyword=value"). Only ConnectTimeout matters here; its first value is the
// one ssh keeps, and any bad one makes ssh refuse to start.
bool TakeOption(std::string_view option, SshCommand& out, bool& timeoutSet, std::string& error) {
  option = Trimmed(option);
  const size_t end = option.find_first_of("= \t");
  if (!SameKeyword(option.substr(0, end), "ConnectTimeout")) return true;
  std::string_view value = end == std::string_view::npos ? std::string_view() : option.substr(end);
  // Blanks, at most one '=', blanks, then the value and nothing after it.
  value = Trimmed(value);
  if (value.starts_with('=')) value = Trimmed(value.substr(1));
  int seconds = 0;
  if (!ParseSshTime(value, seconds)) {
    error = "NETVANE_SSH sets ConnectTimeout to \"" + std::string(value) +
            "\": it must be a time from 1 s to 1 h, such as 10 or 2m";
    return false;
  }
  if (!timeoutSet) out.connectTimeoutS = seconds;
  timeoutSet = true;
  return true;
}

}  // namespace

bool SplitWords(std::string_view text, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (++i == text.size()) {
        error = "it ends in a '\\'";
        return false;
      }
      if (text[i] != '\n') word += text[i];
    } else if (c == '\'') {
      const size_t close = text.find('\'', i + 1);
      if (close == std::string_view::npos) {
        error = "a ' is not closed";
        return false;
      }
      word += text.substr(i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      // Inside double quotes a '\' only escapes what a shell lets it escape.
      for (++i;; ++i) {
        if (i == text.size()) {
          error = "a \" is not closed";
          return false;
        }
        if (text[i] == '"') break;
        if (text[i] == '\\' && i + 1 < text.size() && std::strchr("\\\"$`\n", text[i + 1]) != nullptr) {
          ++i;
          if (text[i] != '\n') word += text[i];  // a '\' before a line end joins the lines
          continue;
        }
        word += text[i];
      }
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

bool ParseSshCommand(std::string_view text, SshCommand& out, std::string& error) {
  SshCommand command;
  if (text.empty()) {
    out = command;
    return true;
  }
  if (!SplitWords(text, command.words, error)) {
    error = "NETVANE_SSH cannot be read: " + error;
    return false;
  }
  if (command.words.empty() || command.words[0].empty()) {
    error = "NETVANE_SSH names no command";
    return false;
  }
  if (command.words[0].starts_with('-')) {
    error = "NETVANE_SSH begins with the option " + command.words[0] +
            ": it must begin with a command, such as ssh";
    return false;
  }
  // The options as ssh's own parser meets them: letters may share a word
  // (-vo), and a value follows in the word or is the next word.
  bool timeoutSet = false;
  const std::vector<std::string>& words = command.words;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string_view word = words[i];
    if (word.size() < 2 || word[0] != '-') continue;
    for (size_t j = 1; j < word.size(); ++j) {
      const char letter = word[j];
      if (kOptionsWithValue.find(letter) == std::string_view::npos) continue;
      std::string_view value;
      if (j + 1 < word.size()) {
        value = word.substr(j + 1);
      } else if (i + 1 < words.size()) {
        value = words[++i];
      } else {
        // ssh would take the driver's first option for its value.
        error = "NETVANE_SSH ends with -" + std::string(1, letter) + ", which needs a value";
        return false;
      }
      if (letter == 'o' && !TakeOption(value, command, timeoutSet, error)) return false;
      break;
    }
  }
  out = command;
  return true;
}

bool SshCommandFromEnvironment(SshCommand& out, std::string& error) {
  const char* text = std::getenv("NETVANE_SSH");
  return ParseSshCommand(text != nullptr ? std::string_view(text) : std::string_view(), out, error);
}

}  // namespace netvane
