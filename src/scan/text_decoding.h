// How the ASCII reader turns the bytes of a line that is not plain ASCII
// into text, and why it departs from QTextStream in one respect.
//
// QTextStream (no codec set, on a QFile opened ReadOnly | Text) reads raw
// chunks of 16384 bytes, decodes them with one stateful UTF-8 decoder (U+FFFD
// for invalid bytes, the byte-order mark skipped at the input's start only)
// and removes every U+000D after decoding. Qt 6.4's decoder loses data where
// a chunk ends inside an unfinished UTF-8 sequence that the next chunk does
// not complete: it swallows the next chunk's first byte, even a line feed,
// which merges two lines and loses both points, depending only on where the
// 16 KiB boundaries fall. The reader does not copy that: it decodes every
// such line whole, as QTextStream would if its decoder had no chunk-edge
// fault. A line feed leaves a UTF-8 decoder in its initial state, so a line
// at a time gives the same text as the whole input at once.
//
// A file that begins with a UTF-16 or UTF-32 byte-order mark is decoded in
// that encoding instead; the reader handles that case itself.
#ifndef SCANFIT_SCAN_TEXT_DECODING_H_
#define SCANFIT_SCAN_TEXT_DECODING_H_

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <cstddef>

// Lines at least this long are decoded a piece at a time rather than whole.
constexpr std::size_t kLongLineBytes = std::size_t(1) << 20;

// Decodes the bytes [begin, end) of one line, with its line feed if it has
// one, as UTF-8: a byte-order mark in it is a character (U+FEFF), the bytes
// of an unfinished sequence at `end` are dropped (only the input's last line
// can end inside a sequence, and QTextStream never flushes its decoder), and
// every U+000D is removed.
QString decodeUtf8Line(const char* begin, const char* end);

// The same text, handed to visit(const QString&) in pieces of about 64 KiB
// of bytes, each cut right after an ASCII byte: there a UTF-8 decoder holds
// no unfinished sequence, so the pieces join to exactly the whole text.
template <typename Visit>
void decodeUtf8LineInPieces(const char* begin, const char* end, Visit visit);

// Where the piece starting at `from` ends.
const char* utf8PieceEnd(const char* from, const char* end);

template <typename Visit>
void decodeUtf8LineInPieces(const char* begin, const char* end, Visit visit) {
  QStringDecoder decoder(QStringConverter::Utf8,
                         QStringConverter::Flag::ConvertInitialBom);
  for (const char* from = begin; from < end;) {
    const char* const to = utf8PieceEnd(from, end);
    QString text = decoder.decode(QByteArrayView(from, to - from));
    text.remove(QChar(u'\r'));
    visit(text);
    from = to;
  }
}

#endif  // SCANFIT_SCAN_TEXT_DECODING_H_
