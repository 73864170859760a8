// fit_read.h - pravlin-fit's reader: every form of input in one pass into the counts (the tables
// it counts and numbers labels in are fit_hash.h's).
// Part of pravlin; see README.md.
#ifndef PRAVLIN_FIT_READ_H
#define PRAVLIN_FIT_READ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fit_records.h"

// Reading.

/// Reads the whole input in one pass into data. Does not return on bad input: one message
/// naming the file, line and column, status 1.
void fit_read(const FIT_OPTIONS* opt, FIT_DATA* data);
/// fit_read on text in memory, for tests; name stands for the file in messages.
void fit_read_text(const FIT_OPTIONS* opt, std::string_view text, const char* name, FIT_DATA* data);
/// fit_read on texts in memory, each named in messages and as a group by its name in names:
/// several inputs read as one, as fit_read reads several files.
void fit_read_texts(const FIT_OPTIONS* opt, const std::vector<std::string_view>& texts,
                    const std::vector<std::string>& names, FIT_DATA* data);
/// fit_read on one open stream read a buffer of the given size (4 bytes at least) at a time,
/// for tests and the fuzzer: fields then span buffers as they do in large files.
void fit_read_stream(const FIT_OPTIONS* opt, FILE* f, const char* name, std::size_t buffer,
                     FIT_DATA* data);
/// The form's name as the options and the summary spell it.
const char* fit_form_name(FIT_FORM form);
/// One observation (state >= 0) or missing cell (state < 0) of a sequence.
void fit_observe(FIT_DATA* data, FIT_SEQUENCE* seq, long state);
/// Text that reads wholly as a finite number, as strtod reads it.
int fit_is_number(std::string_view text, double* value);
/// Offset of the first byte of text that is not UTF-8, or that starts a character XML 1.0 does
/// not allow (a control character other than tab, line feed and carriage return, U+FFFE,
/// U+FFFF); npos when there is none.
std::size_t fit_not_xml(std::string_view text);

#endif
