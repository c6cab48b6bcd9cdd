// How Qt 6's QTextStream (no codec set, on a QFile opened ReadOnly | Text)
// turns the bytes of an input into text, reproduced for single lines.
//
// QTextStream reads its device in raw chunks of 16384 bytes (it switches
// the device's text mode off while reading), decodes every chunk with one
// stateful UTF-8 decoder (U+FFFD for invalid bytes, an initial byte-order
// mark skipped) and then removes every U+000D of the decoded chunk. The
// stateful decoder of Qt 6.4 has a quirk where a chunk ends inside a UTF-8
// sequence: when the next chunk does not complete it, one U+FFFD replaces
// the pending bytes and the next chunk's first byte is skipped, whatever it
// is, even a line feed. So the text of a line that holds non-ASCII bytes
// depends on where the 16384-byte boundaries fall, and decodeLineLikeTextStream
// feeds Qt's own decoder exactly those pieces.
//
// A file that begins with a UTF-16 or UTF-32 byte-order mark is decoded
// whole in that encoding; the reader hands such a file to QTextStream.
#ifndef SCANFIT_SCAN_TEXT_DECODING_H_
#define SCANFIT_SCAN_TEXT_DECODING_H_

#include <QString>

#include <cstddef>
#include <cstdint>

// QTextStream's raw read size (QTEXTSTREAM_BUFFERSIZE).
constexpr std::int64_t kTextStreamChunkSize = 16384;

// Decodes the bytes [begin, end), which start a line (the byte before them,
// if any, is a line feed that was decoded as one) and sit at byte offset
// `streamOffset` of the input, exactly as QTextStream decodes them: pieces
// cut at multiples of kTextStreamChunkSize, one stateful UTF-8 decoder, a
// byte-order mark kept as U+FEFF (only the input's very first one is
// skipped, by the caller), bytes of an unfinished sequence at `end` dropped
// (the input ends there) and every U+000D removed.
QString decodeLineLikeTextStream(const char* begin, const char* end,
                                 std::int64_t streamOffset);

// True when QTextStream may swallow the line feed at byte offset
// `streamOffset` whose preceding byte is `before`: only a line feed that
// starts a chunk right after a byte of an unfinished UTF-8 sequence can be.
inline bool lineFeedMayVanish(std::int64_t streamOffset, unsigned char before) {
  return before >= 0x80 && streamOffset % kTextStreamChunkSize == 0;
}

// Byte-order marks that make QTextStream decode the whole input as UTF-16
// or UTF-32 (QStringConverter::encodingForData on its first chunk).
// `bytes` must hold the input's first 4 bytes, or the whole input if it is
// shorter.
bool startsWithUtf16Or32ByteOrderMark(const char* bytes, std::size_t size);
// The UTF-8 byte-order mark, skipped at the start of the input.
bool startsWithUtf8ByteOrderMark(const char* bytes, std::size_t size);

#endif  // SCANFIT_SCAN_TEXT_DECODING_H_
