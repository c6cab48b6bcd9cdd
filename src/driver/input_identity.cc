#include "driver/input_identity.h"

#include <QByteArrayList>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

QByteArray currentDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (buffer.size() > (std::size_t(1) << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return QByteArray(buffer.data());
}

QByteArray utcWithNanoseconds(const timespec& time) {
  std::tm utc{};
  const time_t seconds = time.tv_sec;
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, long(time.tv_nsec));
  return QByteArray(text);
}

}  // namespace

QByteArray absoluteNormalPath(const QByteArray& name) {
  const QByteArray full =
      name.startsWith('/') ? name : currentDirectory() + '/' + name;
  const bool twoSlashes = full.startsWith("//") && !full.startsWith("///");
  std::vector<QByteArray> parts;
  for (const QByteArray& part : full.split('/')) {
    if (part.isEmpty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  QByteArray path = twoSlashes ? "/" : "";
  for (const QByteArray& part : parts) path += '/' + part;
  return path.isEmpty() || path == "/" ? path + '/' : path;
}

InputIdentity identifyInput(int fd, const QByteArray& name) {
  InputIdentity identity;
  identity.path = absoluteNormalPath(name);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    identity.regular = true;
    identity.size = std::int64_t(info.st_size);
    identity.modified = utcWithNanoseconds(info.st_mtim);
  }
  return identity;
}
