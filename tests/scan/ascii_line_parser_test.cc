// The line parser on its own: converting a block in two parts with two
// parsers (as two threads would), cut after any line feed and joined in
// order, equals converting it whole.
#include "scan/ascii_line_parser.h"
#include "scan/text_generators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Parsed {
  std::vector<float> c0, c1, c2, c3;
  std::vector<short> c4, c5, c6;
  std::string messages;
  std::int64_t lines = 0;
  std::int64_t badLines = 0;
  int form = 0;

  PointColumns columns() { return {&c0, &c1, &c2, &c3, &c4, &c5, &c6}; }

  void append(const Parsed& o) {
    c0.insert(c0.end(), o.c0.begin(), o.c0.end());
    c1.insert(c1.end(), o.c1.begin(), o.c1.end());
    c2.insert(c2.end(), o.c2.begin(), o.c2.end());
    c3.insert(c3.end(), o.c3.begin(), o.c3.end());
    c4.insert(c4.end(), o.c4.begin(), o.c4.end());
    c5.insert(c5.end(), o.c5.begin(), o.c5.end());
    c6.insert(c6.end(), o.c6.begin(), o.c6.end());
    messages += o.messages;
    lines += o.lines;
    badLines += o.badLines;
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
  EXPECT_EQ(bitsOf(a.c0), bitsOf(b.c0));
  EXPECT_EQ(bitsOf(a.c1), bitsOf(b.c1));
  EXPECT_EQ(bitsOf(a.c2), bitsOf(b.c2));
  EXPECT_EQ(bitsOf(a.c3), bitsOf(b.c3));
  EXPECT_EQ(a.c4, b.c4);
  EXPECT_EQ(a.c5, b.c5);
  EXPECT_EQ(a.c6, b.c6);
}

// Parses `text` whole, then in two parts cut after the line feed at `cut`.
void checkSplit(std::string text, std::size_t cut) {
  text.push_back('\0');  // room for the sentinel
  char* const data = text.data();
  char* const end = data + text.size() - 1;

  Parsed whole;
  AsciiLineParser all(whole.columns(), &whole.messages);
  whole.lines = all.parse(data, end, 0, true);
  whole.badLines = all.badLines();
  whole.form = all.form();

  // The second part's first line index is the line feeds before it.
  Parsed first, second;
  AsciiLineParser a(first.columns(), &first.messages);
  first.lines = a.parse(data, data + cut + 1, 0, false);
  first.badLines = a.badLines();
  ASSERT_EQ(first.lines, std::count(data, data + cut + 1, '\n'));
  AsciiLineParser b(second.columns(), &second.messages);
  b.setForm(a.form());
  second.lines = b.parse(data + cut + 1, end, first.lines, true);
  second.badLines = b.badLines();
  first.append(second);
  first.form = b.form();
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

}  // namespace
