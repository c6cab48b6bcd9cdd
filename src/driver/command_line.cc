#include "driver/command_line.h"

#include <glob.h>

namespace {

bool isLongOption(const std::string& arg) {
  return arg.size() > 2 && arg[0] == '-' && arg[1] == '-';
}

bool takesValue(const std::string& name) {
  return name == "--threads" || name == "--output-dir" || name == "--report";
}

// Whether each argument is taken as written: after "--", and a long option
// with its value, in the order the parse below takes them.
std::vector<bool> literalArguments(const std::vector<std::string>& args) {
  std::vector<bool> literal(args.size(), true);
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (arg == "--") break;
    if (!isLongOption(arg)) {
      literal[at] = false;
    } else if (arg.find('=') == std::string::npos && takesValue(arg)) {
      ++at;  // the value
    }
  }
  return literal;
}

}  // namespace

std::vector<std::string> expandWildcards(const std::vector<std::string>& args) {
  const std::vector<bool> literal = literalArguments(args);
  std::vector<std::string> expanded;
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (literal[at] || arg.find_first_of("*?[") == std::string::npos) {
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

// A long option and the value it takes, set on `line`.
void setLongOption(const std::string& name, const std::string& value,
                   CommandLine& line) {
  if (name == "--threads") {
    line.threads = threadCount(value);
    if (line.threads == 0)
      line.error = "Invalid value for --threads: " + value +
                   " (a whole number from 1 to " +
                   std::to_string(kMostThreads) + ")";
  } else if (name == "--output-dir" || name == "--report") {
    if (value.empty())
      line.error = "Empty value for " + name;
    else
      (name == "--report" ? line.reportPath : line.outputDir) = value;
  }
}

// Takes the long option at args[at] (and its value, when that is the next
// argument); returns the index of the last argument taken.
size_t takeLongOption(const std::vector<std::string>& args, size_t at,
                      CommandLine& line) {
  const std::string& arg = args[at];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  if (name == "--help" || name == "--version") {
    if (equals != std::string::npos)
      line.error = "Option " + name + " takes no value";
    else
      (name == "--help" ? line.help : line.version) = true;
    return at;
  }
  if (!takesValue(name)) {
    line.error = "Unknown option: " + arg;
    return at;
  }
  if (equals != std::string::npos) {
    setLongOption(name, arg.substr(equals + 1), line);
  } else if (at + 1 < args.size()) {
    setLongOption(name, args[at + 1], line);
    ++at;
  } else {
    line.error = "Missing value for " + name;
  }
  return at;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool optionsEnded = false;
  for (size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (optionsEnded || !isOption(arg)) {
      line.inputName = arg;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (isLongOption(arg)) {
      at = takeLongOption(args, at, line);
    } else {
      const char letter = arg.size() > 1 ? arg[1] : '\0';
      if (letter == 'b' || letter == 'B') line.binaryInput = true;
      if (letter == 'a' || letter == 'A') line.sevenColumns = true;
    }
    if (!line.error.empty() || line.help || line.version) break;
  }
  return line;
}
