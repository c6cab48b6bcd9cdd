#include "driver/command_line.h"

#include <QFile>

#include <glob.h>

std::vector<std::string> expandWildcards(const std::vector<std::string>& args) {
  std::vector<std::string> expanded;
  for (const std::string& arg : args) {
    if (arg.find_first_of("*?[") == std::string::npos) {
      expanded.push_back(arg);
      continue;
    }
    glob_t matches{};
    if (glob(arg.c_str(), 0, nullptr, &matches) == 0) {
      for (size_t i = 0; i < matches.gl_pathc; ++i)
        expanded.emplace_back(matches.gl_pathv[i]);
    } else {
      expanded.push_back(arg);
    }
    globfree(&matches);
  }
  return expanded;
}

bool isOption(const std::string& arg) {
  if (arg.empty()) return false;
  if (arg[0] == '-') return true;
  return arg[0] == '/' && arg.find('/', 1) == std::string::npos;
}

namespace {

// A whole number from 1 to kMostThreads, or 0.
int threadCount(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value <= kMostThreads ? value : 0;
}

// Takes the long option at args[at] (and its value, when that is the next
// argument); returns the index of the last argument taken.
size_t takeLongOption(const std::vector<std::string>& args, size_t at,
                      CommandLine& line) {
  const std::string& arg = args[at];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  // Other long options are ignored, as every option of an unknown letter.
  if (name != "--threads") return at;
  std::string value;
  if (equals != std::string::npos) {
    value = arg.substr(equals + 1);
  } else if (at + 1 < args.size()) {
    value = args[++at];
  } else {
    line.error = "Missing value for --threads";
    return at;
  }
  line.threads = threadCount(value);
  if (line.threads == 0)
    line.error = "Invalid value for --threads: " + value +
                 " (a whole number from 1 to " + std::to_string(kMostThreads) +
                 ")";
  return at;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t at = 0; at < args.size() && line.error.empty(); ++at) {
    const std::string& arg = args[at];
    if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
      at = takeLongOption(args, at, line);
      continue;
    }
    if (!isOption(arg)) {
      // File names are bytes in the locale's encoding, not Latin-1.
      line.inputName = QFile::decodeName(QByteArray::fromStdString(arg));
      continue;
    }
    const char letter = arg.size() > 1 ? arg[1] : '\0';
    if (letter == 'b' || letter == 'B') line.binaryInput = true;
    if (letter == 'a' || letter == 'A') line.sevenColumns = true;
  }
  return line;
}
