// Reading the input in blocks of whole text lines or whole point records,
// one block at a time and in order, so that the blocks can be converted
// into points on several threads at once (scan/block_parse.h) and memory
// stays a few blocks whatever the input's size.
//
// A text input is decoded as QTextStream decodes it: UTF-8, with a
// byte-order mark at its start skipped, unless it starts with a UTF-16 or
// UTF-32 byte-order mark; then it is decoded in that encoding here, and
// its blocks hold the decoded lines. Its first line decides its form (six
// or seven columns), which every block carries.
#ifndef SCANFIT_SCAN_INPUT_READER_H_
#define SCANFIT_SCAN_INPUT_READER_H_

#include <QFile>
#include <QString>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Bytes left uninitialised, grown with realloc: in place where it can, and
// large buffers are remapped rather than copied.
struct ByteBuffer {
  char* bytes = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  // Room for at least `bytes` bytes in all; the bytes held stay. Throws
  // std::bad_alloc when there is no more memory.
  void reserve(std::size_t bytes);
  void swap(ByteBuffer& other);
};

// One block of the input, as the reader hands it out.
struct InputBlock {
  bool binary = false;
  // Whole point records, or whole text lines of a UTF-8 input, each with
  // its line feed; in the block that ends the input, also the bytes after
  // the last line feed, which are the input's last line. One byte of room
  // is left after them.
  ByteBuffer bytes;
  // The whole lines of a UTF-16 or UTF-32 input, without line feeds and
  // carriage returns (in the last block, its last line too); a block of
  // such an input holds at least one, a block of any other input none.
  std::vector<QString> decodedLines;
  bool endsInput = false;  // the input's last block (possibly empty)
  int form = 0;            // text: 6 or 7 fields
  std::uint64_t bytesRead = 0;  // of the input, when the block was handed out
};

// Bytes a block holds when the input has that many, read at a time. Set
// by the build (SCANFIT_BLOCK_BYTES): a test build makes blocks tiny so
// that scan lines, text lines and records cross block edges everywhere.
#ifndef SCANFIT_BLOCK_BYTES
#define SCANFIT_BLOCK_BYTES (128 * 1024)
#endif
constexpr std::size_t kInputBlockBytes = SCANFIT_BLOCK_BYTES;

// A block of a compressed input's bytes, decompressed by the run's first
// stage (scan/decompress.h).
struct SuppliedBlock {
  ByteBuffer bytes;
  bool endsInput = false;       // the input's last bytes are in it
  std::uint64_t bytesRead = 0;  // of the compressed input, when it was made
};

struct Decompressor;

struct InputReader {
  // Made and ended in scan/decompress.cc, where a decompressor is known.
  InputReader();
  ~InputReader();
  QFile file;
  bool binary = false;
  std::size_t blockBytes = kInputBlockBytes;
  // Bytes a text line may hold (a UTF-16 or UTF-32 line: two per UTF-16
  // code unit, as it is held); a longer one ends the read.
  std::size_t longestLine = SIZE_MAX;

  ByteBuffer pending;           // read and not yet handed out
  std::size_t searched = 0;     // text: pending[0, searched) searched for
                                // line feeds
  bool atEnd = false;           // nothing more to read
  int readError = 0;            // errno of a read that failed
  bool lineTooLong = false;     // a line passed longestLine
  std::uint64_t bytesRead = 0;  // of the input so far
  bool done = false;            // the last block is handed out
  bool started = false;         // the encoding is decided
  int form = 0;                 // text: 6 or 7 once the first line is seen
  std::unique_ptr<QStringDecoder> decoder;  // a UTF-16 or UTF-32 input
  QString unfinishedLine;       // decoded text after the last line feed
  // A compressed input: its decompressor, and the decompressed block that
  // the reader takes instead of reading the file, set before each call of
  // readInputBlock; a block handed out then holds what that block
  // completes, possibly nothing.
  std::unique_ptr<Decompressor> decompressor;
  const SuppliedBlock* supply = nullptr;
  bool starved = false;         // the supply is taken: the block ends here
};

// Hands out the next block into `block` (its previous bytes are reused),
// or returns false when the last block has been handed out, a read has
// failed (then readError tells why) or a line is longer than longestLine
// (then lineTooLong is set, and the line is the one after those handed
// out); after a failure the blocks handed out are not all of the input.
// Throws std::bad_alloc when memory runs out. The file is opened by the
// caller, read-only and unbuffered.
bool readInputBlock(InputReader& reader, InputBlock& block);

#endif  // SCANFIT_SCAN_INPUT_READER_H_
