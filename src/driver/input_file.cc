#include "driver/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::string lastComponent(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string currentDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(2 * buffer.size());
  }
  return buffer.data();
}

}  // namespace

std::string absolutePath(const std::string& name) {
  const std::string full =
      !name.empty() && name[0] == '/' ? name : currentDirectory() + "/" + name;
  // POSIX leaves a leading "//" to the system, and normpath keeps it.
  const bool twoSlashes = full.compare(0, 2, "//") == 0 &&
                          full.compare(0, 3, "///") != 0;
  std::vector<std::string> kept;
  std::size_t from = 0;
  while (from <= full.size()) {
    std::size_t end = full.find('/', from);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(from, end - from);
    from = end + 1;
    if (part.empty() || part == ".") continue;
    if (part != "..") kept.push_back(part);
    else if (!kept.empty()) kept.pop_back();  // above the root is the root
  }
  std::string path = twoSlashes ? "/" : "";
  for (const std::string& part : kept) path += "/" + part;
  return path.empty() || path == "/" ? (twoSlashes ? "//" : "/") : path;
}

bool openInput(const std::string& name, bool binary, InputReader& reader,
               InputFile& input, std::string& reason) {
  // The texts a user has always seen for these two cases.
  if (name.empty()) {
    reason = "No file name specified";
    return false;
  }
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0 || ::fstat(fd, &input.status) != 0) {
    reason = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (S_ISDIR(input.status.st_mode)) {
    ::close(fd);
    reason = "file to open is a directory";
    return false;
  }
  if (!reader.file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    reason = std::strerror(EIO);
    return false;
  }
  reader.binary = binary;
  input.name = name;
  input.fileName = lastComponent(name);
  input.baseName = input.fileName.substr(0, input.fileName.find('.'));
  input.path = absolutePath(name);
  return true;
}
