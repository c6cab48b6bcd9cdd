// The line parser on its own: converting a block in two parts with two
// parsers (as two threads of a run would), cut after any line feed and
// joined in order, equals converting it whole.
#include "driver/rejected_messages.h"
#include "scan/ascii_line_parser.h"
#include "scan/text_generators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What one parser leaves: its points, its messages numbered from
// `firstLineIndex`, its line counts and the form it ended with.
struct Parsed {
  ScanData points;
  std::string messages;
  std::int64_t lines = 0;
  std::int64_t badLines = 0;
  int form = 0;

  void parse(char* begin, char* end, bool endsInput, int knownForm,
             std::int64_t firstLineIndex) {
    RejectedLines rejected;
    AsciiLineParser parser(points, rejected);
    parser.setForm(knownForm);
    lines = parser.parse(begin, end, 0, endsInput);
    badLines = std::int64_t(rejected.size());
    form = parser.form();
    std::ostringstream out;
    writeRejectedLines(out, rejected, firstLineIndex);
    messages = out.str();
  }

  void append(const Parsed& o) {
    forEachPointColumn([&](auto column) {
      auto& into = points.*column;
      into.insert(into.end(), (o.points.*column).begin(),
                  (o.points.*column).end());
    });
    messages += o.messages;
    lines += o.lines;
    badLines += o.badLines;
    form = o.form;
  }
};

std::vector<std::uint32_t> bitsOf(const std::vector<float>& v) {
  std::vector<std::uint32_t> b(v.size());
  if (!v.empty()) std::memcpy(b.data(), v.data(), v.size() * sizeof(float));
  return b;
}

void expectSame(const Parsed& a, const Parsed& b) {
  EXPECT_EQ(a.lines, b.lines);
  EXPECT_EQ(a.badLines, b.badLines);
  EXPECT_EQ(a.form, b.form);
  EXPECT_EQ(a.messages, b.messages);
  EXPECT_EQ(bitsOf(a.points.col0), bitsOf(b.points.col0));
  EXPECT_EQ(bitsOf(a.points.latitude), bitsOf(b.points.latitude));
  EXPECT_EQ(bitsOf(a.points.longitude), bitsOf(b.points.longitude));
  EXPECT_EQ(bitsOf(a.points.elevation), bitsOf(b.points.elevation));
  EXPECT_EQ(a.points.col4, b.points.col4);
  EXPECT_EQ(a.points.sweepIndex, b.points.sweepIndex);
  EXPECT_EQ(a.points.col6, b.points.col6);
}

// Parses `text` whole, then in two parts cut after the line feed at `cut`:
// the second part, as a block of a run, knows the form but counts its
// lines from 0, and its messages are numbered on from the first part's.
void checkSplit(std::string text, std::size_t cut) {
  text.push_back('\0');  // room for the sentinel
  char* const data = text.data();
  char* const end = data + text.size() - 1;

  Parsed whole;
  whole.parse(data, end, true, 0, 0);

  Parsed first, second;
  first.parse(data, data + cut + 1, false, 0, 0);
  ASSERT_EQ(first.lines, std::count(data, data + cut + 1, '\n'));
  second.parse(data + cut + 1, end, true, first.form, first.lines);
  first.append(second);
  expectSame(whole, first);
}

std::vector<std::size_t> lineFeeds(const std::string& text) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') at.push_back(i);
  return at;
}

TEST(AsciiLineParser, TwoPartsEqualTheWhole) {
  LineGenerator gen(2718);
  for (int round = 0; round < 300; ++round) {
    const std::string text = gen.input(2 + gen.below(40));
    const std::vector<std::size_t> cuts = lineFeeds(text);
    if (cuts.empty()) continue;
    SCOPED_TRACE(round);
    checkSplit(text, cuts[std::size_t(gen.below(int(cuts.size())))]);
    if (::testing::Test::HasFailure()) break;
  }
}

// A line feed after an unfinished UTF-8 sequence ends its line like any
// other: the sequence is one line's U+FFFD, and the next part starts clean.
TEST(AsciiLineParser, PartsMayEndAfterAnUnfinishedSequence) {
  LineGenerator gen(1414);
  const char* const kUnfinished[] = {"\xC3", "\xE2\x82", "\xF0\x9F\x98",
                                     "\xED\xA0", ""};
  for (int round = 0; round < 20; ++round) {
    std::string text;
    for (int line = 0; line < 12; ++line) {
      text += gen.below(2) == 0 ? gen.line() : "12.5 70.1 -45.2 3.25 1 100";
      text += kUnfinished[gen.below(5)];
      text += '\n';
    }
    SCOPED_TRACE(round);
    for (const std::size_t cut : lineFeeds(text)) checkSplit(text, cut);
    if (::testing::Test::HasFailure()) break;
  }
}

// A block's messages are numbered on from the lines of the blocks before
// it, in full whatever the count, and long texts come out whole.
TEST(RejectedLines, NumberedFromTheBlocksBefore) {
  const std::string longText(100000, 'x');
  RejectedLines rejected;
  rejected.addInPlace(0, 3, "a b c", 5);
  rejected.addCopy(2, 1, "", 0);
  rejected.addInPlace(7, 1, longText.data(), longText.size());
  std::ostringstream out;
  writeRejectedLines(out, rejected, 5000000000);
  EXPECT_EQ(out.str(), "5000000000 3 a b c\n5000000002 1 \n5000000007 1 " +
                           longText + "\n");
}

}  // namespace
