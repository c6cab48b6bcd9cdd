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

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (const std::string& arg : args) {
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
