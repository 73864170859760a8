// options.h - what the programs' command lines share: a whole number within bounds.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_OPTIONS_H
#define PRAVLIN_OPTIONS_H

/// text as a whole decimal number from low to high, digits only (no sign, no blank), or -1
/// when text is null or empty, holds anything else, or is out of bounds. high must be at most
/// LONG_MAX / 10 - 1, so that the digits are added without overflow.
inline long parse_count(const char* text, long low, long high) {
  if (text == nullptr || *text == '\0')
    return -1;
  long v = 0;
  for (const char* s = text; *s != '\0'; s++) {
    if (*s < '0' || *s > '9')
      return -1;
    v = v * 10 + (*s - '0');
    if (v > high)
      return -1;
  }
  return v < low ? -1 : v;
}

#endif
