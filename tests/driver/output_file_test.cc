// An output file is all or nothing: its bytes replace the final name only
// when it is put in place, and a failure or a run that never gets there
// leaves the directory as it was.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "driver/output_file.h"
#include "driver/scanfit_process.h"

namespace {

// Collects what is written to std::cerr while it lives.
struct CerrCapture {
  std::ostringstream text;
  std::streambuf* saved = std::cerr.rdbuf(text.rdbuf());
  ~CerrCapture() { std::cerr.rdbuf(saved); }
};

mode_t permissions(const QString& path) {
  struct stat info {};
  if (stat(QFile::encodeName(path).constData(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

bool commit(OutputFile& out) {
  OutputFile* const one[] = {&out};
  return putInPlace(one, 1, "");
}

std::string bytes(const QString& name) {
  return QFile::encodeName(name).toStdString();
}

struct OutputFileTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(OutputFileTest, CommitReplacesTheFinalNameWithExactlyTheBytes) {
  writeFile(path("out.scn"), "an earlier, longer output\n");
  ASSERT_EQ(chmod(QFile::encodeName(path("out.scn")).constData(), 0640), 0);
  // A block larger than the buffer's goes to the file at once.
  std::string block(OutputBuffer::kBlockSize + 3, 'b');
  const std::string expected = std::string("row\0\n", 5) + block;

  OutputFile out;
  ASSERT_TRUE(out.open(bytes(path("out.scn"))));
  out.buffer.append("row\0\n", 5);
  out.buffer.append(block.data(), block.size());
  ASSERT_TRUE(out.flush());
  // Written, but not yet in place: an unnamed file shows nowhere, a named
  // temporary under a short hidden name.
  EXPECT_EQ(readFile(path("out.scn")), "an earlier, longer output\n");
  const QStringList written = listDir(dir.path());
  EXPECT_EQ(written.size(), kUnnamedFiles ? 1 : 2);
  EXPECT_EQ(written.filter(QRegularExpression("^\\.sf......$")).size(),
            kUnnamedFiles ? 0 : 1);

  ASSERT_TRUE(commit(out));
  EXPECT_TRUE(readFile(path("out.scn")).toStdString() == expected);
  EXPECT_EQ(permissions(path("out.scn")), mode_t(0640));
  EXPECT_EQ(listDir(dir.path()), QStringList{"out.scn"});
}

TEST_F(OutputFileTest, ANewFileGetsThePermissionsOfAnOrdinaryCreate) {
  const mode_t mask = umask(022);
  umask(mask);
  OutputFile out;
  ASSERT_TRUE(out.open(bytes(path("new.fit"))));
  ASSERT_TRUE(commit(out));
  EXPECT_EQ(readFile(path("new.fit")), QByteArray());
  EXPECT_EQ(permissions(path("new.fit")), mode_t(0666 & ~mask));
}

// An output name that is a link writes the file it links to, as writing
// through the name would; the link stays a link.
TEST_F(OutputFileTest, ALinkedOutputReplacesTheLinkedFile) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("store"));
  writeFile(path("store/real.scn"), "earlier\n");
  ASSERT_TRUE(QFile::link("store/real.scn", path("out.scn")));
  OutputFile out;
  ASSERT_TRUE(out.open(bytes(path("out.scn"))));
  out.buffer.append("new\n", 4);
  ASSERT_TRUE(commit(out));
  EXPECT_EQ(readFile(path("store/real.scn")), "new\n");
  EXPECT_EQ(QFileInfo(path("out.scn")).symLinkTarget(),
            QFileInfo(path("store/real.scn")).absoluteFilePath());
  EXPECT_EQ(listDir(path("store")), QStringList{"real.scn"});
}

TEST_F(OutputFileTest, WithoutPuttingInPlaceNothingChanges) {
  writeFile(path("kept.ver"), "earlier\n");
  {
    OutputFile replacing, fresh;
    ASSERT_TRUE(replacing.open(bytes(path("kept.ver"))));
    ASSERT_TRUE(fresh.open(bytes(path("fresh.ver"))));
    replacing.buffer.append("new\n", 4);
    fresh.buffer.append("new\n", 4);
    ASSERT_TRUE(replacing.flush() && fresh.flush());
  }
  EXPECT_EQ(readFile(path("kept.ver")), "earlier\n");
  EXPECT_EQ(listDir(dir.path()), QStringList{"kept.ver"});
}

TEST_F(OutputFileTest, FailuresAreReportedAndLeaveNothingBehind) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("taken.scn"));
  writeFile(path("kept.fit"), "earlier\n");
  writeFile(path("locked.fit"), "earlier\n");
  ASSERT_EQ(chmod(QFile::encodeName(path("locked.fit")).constData(), 0444), 0);
  const QStringList before = listDir(dir.path());
  const struct {
    QString name;
    std::string reason;
  } cases[] = {
      {path("taken.scn"), "Filename refers to a directory"},
      {path("missing/out.scn"), "No such file or directory"},
      {path("locked.fit"), "Existing file " +
                               QFile::encodeName(path("locked.fit")).toStdString() +
                               " is not writable"},
  };
  for (const auto& c : cases) {
    // Root may write any file, so a read-only one is refused to others only.
    if (geteuid() == 0 && c.name == path("locked.fit")) continue;
    CerrCapture err;
    OutputFile out;
    EXPECT_FALSE(out.open(bytes(c.name)));
    EXPECT_EQ(err.text.str(), "Cannot write to: " +
                                  QFile::encodeName(c.name).toStdString() +
                                  "\n" + c.reason + "\n");
    EXPECT_EQ(listDir(dir.path()), before) << c.reason;
  }

  // A write that fails: /dev/full stands in for the temporary file.
  CerrCapture err;
  OutputFile out;
  ASSERT_TRUE(out.open(bytes(path("kept.fit"))));
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  ASSERT_EQ(dup2(full, out.buffer.fd), out.buffer.fd);
  close(full);
  out.buffer.append("lost\n", 5);
  EXPECT_FALSE(commit(out));
  EXPECT_EQ(err.text.str(), "Cannot write to: " +
                                QFile::encodeName(path("kept.fit")).toStdString() +
                                "\nNo space left on device\n");
  EXPECT_EQ(readFile(path("kept.fit")), "earlier\n");
  EXPECT_EQ(listDir(dir.path()), before);
}

}  // namespace
