// output_file.cc - output files that never overwrite an input or one another, are replaced
// whole or not at all, and leave no temporary file behind.
// Part of pravlin; see README.md.
#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fail.h"

// A regular file, by device and inode; for a file not yet made, its directory's and its name.
struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // empty for a file that exists
};

enum OutputHow {
  OUT_STDOUT,    // standard output as the program has it
  OUT_IN_PLACE,  // a terminal, pipe or device: opened by its name and written as it stands
  OUT_THROUGH,   // the file standard output or error is open on: through that descriptor
  OUT_REPLACE,   // a temporary file beside target, renamed over it
};

struct InputFile {
  FileKey key;
  std::string name;
};

struct OutputFile {
  std::string path;  // as given; "stdout" for standard output
  bool is_stdout = false;
  OutputHow how = OUT_STDOUT;
  int through_fd = -1;  // OUT_THROUGH: 1 or 2
  std::string target;   // OUT_REPLACE: path with its symbolic links resolved
  bool exists = false;  // OUT_REPLACE: target exists, and st holds it
  struct stat st {};
  bool keyed = false;  // a regular file, compared with the others by key
  FileKey key;
  FILE* file = nullptr;
  int slot = -1;  // the temporary file's slot in temp_name, or -1
};

// The files read and written by this process: written by output_note_input, output_declare
// and output_finish, from the program's one thread.
static std::vector<InputFile> inputs;
static std::vector<OutputFile> outputs;

// The temporary files not yet renamed, where the signal handler can reach them without
// allocating: a slot holds its name while temp_live is set. Set and cleared with the signals
// blocked, so a handler never sees a name half written.
static constexpr int TEMP_SLOTS = 8;
static char temp_name[TEMP_SLOTS][PATH_MAX + 1];
static volatile sig_atomic_t temp_live[TEMP_SLOTS];
static bool cleanup_installed = false;

static const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

static void remove_temps() {
  for (int k = 0; k < TEMP_SLOTS; k++) {
    if (temp_live[k]) {
      unlink(temp_name[k]);
      temp_live[k] = 0;
    }
  }
}

// Async-signal-safe: unlink, signal and raise only. The signal is raised again with its
// default action, so the process still ends as the sender meant (status, core, shell's "$?").
static void remove_temps_on_signal(int sig) {
  for (int k = 0; k < TEMP_SLOTS; k++) {
    if (temp_live[k])
      unlink(temp_name[k]);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

static void block_signals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : CLEANUP_SIGNALS)
    sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, old);
}

static void restore_signals(const sigset_t* old) {
  pthread_sigmask(SIG_SETMASK, old, nullptr);
}

// Once, before the first temporary file. A signal the caller ignores (nohup, a background job
// of a shell without job control) stays ignored.
static void install_cleanup() {
  if (cleanup_installed)
    return;
  cleanup_installed = true;
  std::atexit(remove_temps);
  for (int sig : CLEANUP_SIGNALS) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    act.sa_handler = remove_temps_on_signal;
    sigemptyset(&act.sa_mask);
    for (int other : CLEANUP_SIGNALS)
      sigaddset(&act.sa_mask, other);
    sigaction(sig, &act, nullptr);
  }
}

static bool same_key(const FileKey& a, const FileKey& b) {
  return a.dev == b.dev && a.ino == b.ino && a.name == b.name;
}

// The regular file open on fd, if any.
static bool fd_key(int fd, FileKey* key) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  *key = FileKey{st.st_dev, st.st_ino, std::string()};
  return true;
}

static std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// path with the symbolic links of its last part followed, as open() would follow them; the
// file named need not exist. False on a loop or a link that cannot be read.
static bool resolve_links(const char* path, std::string* target) {
  std::string p = path;
  for (int hops = 0;; hops++) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      break;
    if (hops == 40)
      return false;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(p.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
      return false;
    const std::string link(buf.data(), static_cast<std::size_t>(n));
    p = link[0] == '/' ? link : directory_of(p) + "/" + link;
  }
  *target = p;
  return true;
}

[[noreturn]] static void fail_open(const std::string& path) {
  fail(" *** ERROR: Unable to open file (%s) for writing\n", path.c_str());
}

// How out is written and what it is compared by; does not return when it cannot be written.
static void find_output(OutputFile* out) {
  const char* path = out->path.c_str();
  out->how = OUT_IN_PLACE;
  out->keyed = false;
  out->exists = false;
  struct stat st;
  if (stat(path, &st) == 0) {
    if (!S_ISREG(st.st_mode))
      return;
    out->keyed = true;
    out->key = FileKey{st.st_dev, st.st_ino, std::string()};
    for (int fd = 1; fd <= 2; fd++) {
      FileKey open_key;
      if (fd_key(fd, &open_key) && same_key(open_key, out->key)) {
        out->how = OUT_THROUGH;
        out->through_fd = fd;
        return;
      }
    }
    // A link in /proc/self/fd names a file that may have no name left ("... (deleted)"): such
    // a file is written in place, as it cannot be replaced by name.
    struct stat found;
    if (!resolve_links(path, &out->target) || stat(out->target.c_str(), &found) != 0 ||
        found.st_dev != st.st_dev || found.st_ino != st.st_ino) {
      return;
    }
    out->how = OUT_REPLACE;
    out->exists = true;
    out->st = st;
    return;
  }
  if (errno != ENOENT || !resolve_links(path, &out->target))
    fail_open(out->path);
  // Not there yet (or a link to a file not there yet): known by its directory and its name.
  struct stat dir;
  if (stat(directory_of(out->target).c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
    fail_open(out->path);
  const std::size_t slash = out->target.rfind('/');
  out->how = OUT_REPLACE;
  out->keyed = true;
  out->key = FileKey{dir.st_dev, dir.st_ino,
                     slash == std::string::npos ? out->target : out->target.substr(slash + 1)};
}

void output_note_input(const char* path) {
  InputFile in;
  in.name = path == nullptr ? "stdin" : path;
  struct stat st;
  const int got = path == nullptr ? fstat(STDIN_FILENO, &st) : stat(path, &st);
  if (got != 0 || !S_ISREG(st.st_mode))
    return;
  in.key = FileKey{st.st_dev, st.st_ino, std::string()};
  inputs.push_back(in);
}

void output_declare(const char* path) {
  OutputFile out;
  out.path = path == nullptr ? "stdout" : path;
  out.is_stdout = path == nullptr;
  out.through_fd = -1;
  out.file = nullptr;
  out.slot = -1;
  if (out.is_stdout) {
    out.how = OUT_STDOUT;
    out.keyed = fd_key(STDOUT_FILENO, &out.key);
  } else {
    find_output(&out);
  }
  if (out.keyed) {
    for (const InputFile& in : inputs) {
      if (same_key(in.key, out.key)) {
        fail(" *** ERROR: Output file (%s) is the input file (%s)\n", out.path.c_str(),
             in.name.c_str());
      }
    }
    for (const OutputFile& other : outputs) {
      if (other.keyed && same_key(other.key, out.key)) {
        fail(" *** ERROR: Output files (%s) and (%s) are the same file\n", other.path.c_str(),
             out.path.c_str());
      }
    }
  }
  outputs.push_back(out);
}

// A temporary file beside out->target, recorded for removal before it can be left behind; -1
// with errno set when it cannot be made.
static int make_temp(OutputFile* out) {
  int slot = 0;
  while (slot < TEMP_SLOTS && temp_live[slot])
    slot++;
  std::string name = out->target + ".XXXXXX";
  if (slot == TEMP_SLOTS || name.size() > PATH_MAX) {
    errno = slot == TEMP_SLOTS ? EMFILE : ENAMETOOLONG;
    return -1;
  }
  install_cleanup();
  sigset_t old;
  block_signals(&old);
  std::memcpy(temp_name[slot], name.c_str(), name.size() + 1);
  int fd = mkstemp(temp_name[slot]);
  if (fd < 0 && errno == ENAMETOOLONG) {
    // The target's name leaves no room for the suffix: a short name in the same directory.
    name = directory_of(out->target) + "/.pravlin-XXXXXX";
    std::memcpy(temp_name[slot], name.c_str(), name.size() + 1);
    fd = mkstemp(temp_name[slot]);
  }
  const int made_errno = errno;
  if (fd >= 0) {
    temp_live[slot] = 1;
    out->slot = slot;
  }
  restore_signals(&old);
  if (fd < 0) {
    errno = made_errno;  // why it could not be made, for the caller
    return -1;
  }
  // mkstemp makes the file private: give it the mode of the file it replaces, or the mode a
  // new file would get.
  mode_t mode = 0;
  if (out->exists) {
    mode = out->st.st_mode & 07777;
    if (out->st.st_uid != geteuid() || out->st.st_gid != getegid()) {
      // Only root may give a file away, and only a member may change its group: where refused,
      // the file keeps this process's owner, as any new file would. Before the mode, which a
      // change of owner may clear.
      const int given = fchown(fd, out->st.st_uid, out->st.st_gid);
      (void)given;
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  return fd;
}

FILE* output_open(const char* path) {
  OutputFile* out = nullptr;
  for (OutputFile& o : outputs) {
    if (path == nullptr ? o.is_stdout : !o.is_stdout && o.path == path)
      out = &o;
  }
  if (out == nullptr) {
    output_declare(path);
    out = &outputs.back();
  }
  if (out->file != nullptr)
    return out->file;
  if (out->how == OUT_STDOUT) {
    out->file = stdout;
  } else if (out->how == OUT_IN_PLACE) {
    out->file = std::fopen(path, "w");
  } else if (out->how == OUT_THROUGH) {
    const int fd = dup(out->through_fd);
    out->file = fd < 0 ? nullptr : fdopen(fd, "w");
    if (out->file == nullptr && fd >= 0)
      close(fd);
  } else {
    int fd = make_temp(out);
    // A file the user may write, in a folder the user may not: no file can be made beside it,
    // so it is written in place, as a device is. It is then truncated now, and a run that
    // fails midway leaves it cut short rather than as it was.
    if (fd < 0 && out->exists && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      fd = open(out->target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd >= 0)
        out->how = OUT_IN_PLACE;
    }
    out->file = fd < 0 ? nullptr : fdopen(fd, "w");
    if (out->file == nullptr && fd >= 0)
      close(fd);
  }
  if (out->file == nullptr)
    fail_open(out->path);
  return out->file;
}

void output_finish() {
  for (OutputFile& out : outputs) {
    FILE* f = out.file;
    if (f == nullptr || out.is_stdout)
      continue;
    out.file = nullptr;
    const bool bad = std::fflush(f) != 0 || std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad)
      fail(" *** ERROR: Unable to write file (%s)\n", out.path.c_str());
  }
  for (OutputFile& out : outputs) {
    if (out.slot < 0)
      continue;
    sigset_t old;
    block_signals(&old);
    const bool renamed = std::rename(temp_name[out.slot], out.target.c_str()) == 0;
    if (renamed)
      temp_live[out.slot] = 0;
    restore_signals(&old);
    if (!renamed)
      fail(" *** ERROR: Unable to write file (%s)\n", out.path.c_str());
    out.slot = -1;
  }
  outputs.clear();
}

void output_reset() {
  for (OutputFile& out : outputs) {
    if (out.file != nullptr && !out.is_stdout)
      std::fclose(out.file);
  }
  remove_temps();
  outputs.clear();
  inputs.clear();
}
