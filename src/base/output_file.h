// output_file.h - output files that never overwrite an input or one another, are replaced
// whole or not at all, and leave no temporary file behind.
// Part of pravlin; see README.md.
#ifndef PRAVLIN_OUTPUT_FILE_H
#define PRAVLIN_OUTPUT_FILE_H

#include <cstdio>

/// Notes path as a file the program reads (null: standard input, "stdin" in messages). Only a
/// regular file is kept, by its device and inode; a path that does not exist is passed over,
/// for the reader to refuse.
void output_note_input(const char* path);

/// Declares an output: path, or standard output when path is null ("stdout" in messages).
/// Refuses with one line and status 1 an output that is one of the inputs noted so far, or an
/// output declared before, however its name is spelt (another hard link, a symbolic link, a
/// path through ".."). Only regular files are compared: a terminal, pipe or device may take
/// several outputs. Declare every output before opening any, so that nothing is written
/// before all are checked. Does not return on failure.
void output_declare(const char* path);

/// Opens the output declared for path (declaring it now if it was not), for writing:
/// - standard output as it is;
/// - a terminal, pipe or device (/dev/null, /dev/stdout onto a pipe) in place, since renaming
///   over it would replace the device itself;
/// - the file standard output or standard error is already open on (/dev/stdout when it is a
///   file) through that descriptor, so that a shell's ">>" still appends;
/// - any other file as a temporary file beside it, beside the file a symbolic link names,
///   given the mode (and where allowed the owner) of the file it replaces; output_finish
///   renames it over that file, and the link stays. When no file can be made in that folder
///   (EACCES, EPERM, EROFS) but the file exists and may be written, it is written in place,
///   truncated at once, as a device is.
/// The temporary file is removed on SIGINT, SIGTERM and SIGHUP and at every exit before
/// output_finish, fail() included. Does not return on failure.
FILE* output_open(const char* path);

/// Closes every output opened but standard output, then renames each temporary file over the
/// file it replaces, once all were written whole. Forgets the outputs (not the inputs). Does
/// not return on failure, and then no temporary file is left.
void output_finish();

/// Forgets the inputs and outputs, removing any temporary file: for tests.
void output_reset();

#endif
