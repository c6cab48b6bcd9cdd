#include "staged_read.h"

#include <sstream>

#include "scan/block_parse.h"
#include "driver/rejected_messages.h"

StagedRead readInStages(InputReader& reader) {
  StagedRead read;
  InputBlock block;
  ScanData points;
  RejectedLines rejected;
  std::ostringstream messages;
  while (readInputBlock(reader, block)) {
    points.clear();
    rejected.clear();
    const std::int64_t lines = parseInputBlock(block, points, rejected);
    writeRejectedLines(messages, rejected, read.textLines);
    read.textLines += lines;
    read.rejectedLines += std::int64_t(rejected.size());
    read.points.sevenColumns = block.form == 7;
    forEachPointColumn([&](auto column) {
      auto& into = read.points.*column;
      into.insert(into.end(), (points.*column).begin(), (points.*column).end());
    });
    ++read.blocks;
  }
  read.messages = messages.str();
  return read;
}
