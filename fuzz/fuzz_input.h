// What every fuzz target needs around the code it drives: the input bytes
// as an open QFile that never touches the disk, Qt's own warnings kept
// quiet as the program keeps them, and a hard stop on a broken invariant.
#ifndef SCANFIT_FUZZ_FUZZ_INPUT_H_
#define SCANFIT_FUZZ_FUZZ_INPUT_H_

#include <QFile>

#include <cstddef>
#include <cstdint>
#include <string>

// Puts `size` bytes into an anonymous in-memory file, rewound, and opens
// `file` on it read-only and unbuffered, as the readers expect; the file
// owns the descriptor. Returns false (and leaves `file` closed) when the
// system refuses, which a target treats as nothing to test.
bool openMemoryFile(QFile& file, const std::uint8_t* bytes, std::size_t size);

// An empty anonymous in-memory file open for writing, or -1; and what such
// a file holds. The caller closes it.
int openMemoryOutput();
std::string contentsOf(int fd);

// Stops the process at once (a crash the fuzzer keeps as a finding) when a
// property that every run must have does not hold.
inline void require(bool holds) {
  if (!holds) __builtin_trap();
}

#endif  // SCANFIT_FUZZ_FUZZ_INPUT_H_
