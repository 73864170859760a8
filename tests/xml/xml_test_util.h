// xml_test_util.h - the reader's tests' helpers: text as a stream, streams as text.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_XML_TEST_UTIL_H
#define PRAVLIN_XML_TEST_UTIL_H

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
  void operator()(FILE* f) const {
    if (f != nullptr)
      std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

/// A read stream over a copy of text (NUL and 0xFF bytes included).
inline FilePtr open_text(const std::string& text) {
  FILE* f = std::tmpfile();
  if (f != nullptr) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
  }
  return FilePtr(f);
}

/// An empty read-write stream; read_all() gives back what was written to it.
inline FilePtr open_sink() {
  return FilePtr(std::tmpfile());
}

/// Everything written to f so far (f is rewound and left at its end).
inline std::string read_all(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  return text;
}

#endif
