// The literal Qt reading path, kept in the tests as the reference the
// reader must equal to the bit: QFile (ReadOnly | Text), QTextStream::readAll,
// split at "\n" keeping empty parts, simplified, split at " " keeping empty
// parts, toFloat / toShort(…, 10) with 0 for a field that fails to convert,
// and "i n text" messages with the unsimplified line's
// toLatin1().constData().
//
// QTextStream decodes in 16384-byte chunks, and Qt 6.4's decoder swallows a
// byte after an unfinished UTF-8 sequence at a chunk's end; the reader
// mends that. The second reference is the same path with the decoding done
// in one piece, as QTextStream would decode without that fault: the
// expectation for inputs that hit it.
#ifndef SCANFIT_TESTS_SCAN_QT_REFERENCE_READER_H_
#define SCANFIT_TESTS_SCAN_QT_REFERENCE_READER_H_

#include <QString>

#include <string>
#include <vector>

// What a read leaves behind: the point columns, the counters, the form
// and the messages, from either reader.
struct AsciiReadResult {
  std::vector<float> col0;
  std::vector<float> latitude;
  std::vector<float> longitude;
  std::vector<float> elevation;
  std::vector<short> col4;
  std::vector<short> sweepIndex;
  std::vector<short> col6;  // seven-column form only
  int lineCount = 0;
  int badLineCount = 0;
  bool sevenColumns = false;
  std::string messages;
};

AsciiReadResult readWithQtReference(const QString& path);
AsciiReadResult readWithWholeDecodingReference(const QString& path);

#endif  // SCANFIT_TESTS_SCAN_QT_REFERENCE_READER_H_
