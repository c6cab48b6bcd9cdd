#include "driver/command_line.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

CommandLine parse(const std::vector<std::string>& args) {
  return parseCommandLine(args);
}

TEST(CommandLine, OnlyTheSecondCharacterOfAnOptionCounts) {
  for (const char* binary : {"-b", "-B", "/b", "/B", "-binary", "/binary"}) {
    EXPECT_TRUE(parse({binary, "x.bin"}).binaryInput) << binary;
  }
  for (const char* other : {"-ab", "-x", "-", "/", "-a", "/A"}) {
    const CommandLine line = parse({other, "x.txt"});
    EXPECT_FALSE(line.binaryInput) << other;
    EXPECT_EQ(line.inputName, "x.txt") << other;
  }
  EXPECT_TRUE(parse({"-a"}).sevenColumns);
  EXPECT_TRUE(parse({"/Axyz"}).sevenColumns);
  EXPECT_FALSE(parse({"-ba"}).sevenColumns);
}

TEST(CommandLine, OptionsAndPathInAnyOrderAndTheLastPathWins) {
  const CommandLine before = parse({"-b", "run1.bin"});
  const CommandLine after = parse({"run1.bin", "-b"});
  EXPECT_EQ(before.inputName, after.inputName);
  EXPECT_EQ(before.binaryInput, after.binaryInput);
  EXPECT_EQ(parse({"first.txt", "-a", "second.txt"}).inputName, "second.txt");
  EXPECT_TRUE(parse({"-b"}).inputName.empty());
}

TEST(CommandLine, AbsolutePathsAreNotOptions) {
  EXPECT_FALSE(isOption("/home/me/flight.txt"));
  EXPECT_FALSE(isOption("/b/flight.txt"));
  EXPECT_TRUE(isOption("/b"));
  EXPECT_TRUE(isOption("/binary"));
  EXPECT_TRUE(isOption("-/x"));
  EXPECT_FALSE(isOption("flight.txt"));
  const CommandLine line = parse({"/b", "/home/me/flight.bin"});
  EXPECT_TRUE(line.binaryInput);
  EXPECT_EQ(line.inputName, "/home/me/flight.bin");
}

TEST(CommandLine, NamesAreKeptByteForByte) {
  const CommandLine line = parse({"--output-dir=out\xe9", "--report",
                                  "r\xff.json", "lat\xe9in/vol\xc3\xa9.txt"});
  EXPECT_EQ(line.inputName, "lat\xe9in/vol\xc3\xa9.txt");
  EXPECT_EQ(line.outputDir, "out\xe9");
  EXPECT_EQ(line.reportPath, "r\xff.json");
}

TEST(CommandLine, WildcardsExpandToSortedMatchesOrStayAsGiven) {
  QTemporaryDir dir;
  for (const char* name : {"b.txt", "a.txt", "c.bin"}) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const std::string base = QDir(dir.path()).absolutePath().toStdString() + "/";
  const std::vector<std::string> expanded =
      expandWildcards({"-b", base + "*.txt", base + "[c].bin", base + "?.none"});
  const std::vector<std::string> expected = {
      "-b", base + "a.txt", base + "b.txt", base + "c.bin", base + "?.none"};
  EXPECT_EQ(expanded, expected);
  EXPECT_EQ(parse(expanded).inputName, base + "?.none");

  // Literal: after "--", and long options with their values, whichever
  // way the value is given; "--" as a value ends nothing.
  const std::vector<std::string> literal = {
      "--report", base + "[a].txt", "--output-dir=" + base + "*",
      "--threads", "?", "--report", "--", base + "[c].bin",
      "--", base + "*.txt", "-b"};
  std::vector<std::string> kept = literal;
  kept[7] = base + "c.bin";
  EXPECT_EQ(expandWildcards(literal), kept);
}

}  // namespace
