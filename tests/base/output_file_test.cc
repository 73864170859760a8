// output_file_test.cc - output files: one that is an input or another output is refused however
// its name is spelt; a pipe is written in place, a link's target replaced and the link kept, the
// mode kept; no temporary file outlives a signal or a failure.
// Part of pravlin; see README.md.
#include "output_file.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "fail.h"

// A directory of its own for each test, its working directory while it runs, holding in.txt.
class OutputSafety : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pravlin_output_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    put("in.txt", "data\n");
  }
  void TearDown() override {
    output_reset();
    ASSERT_EQ(chdir(cwd_.c_str()), 0);
    const std::string cmd = "rm -rf '" + dir_ + "'";
    (void)std::system(cmd.c_str());
  }

  static void put(const char* name, const std::string& text) {
    FILE* f = std::fopen(name, "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }

  static std::string contents(const char* name) {
    std::string text;
    FILE* f = std::fopen(name, "r");
    if (f == nullptr)
      return "(none)";
    for (int c; (c = std::fgetc(f)) != EOF;)
      text.push_back(static_cast<char>(c));
    std::fclose(f);
    return text;
  }

  // The names in the directory, sorted: a temporary file left behind shows here.
  static std::vector<std::string> files() {
    std::vector<std::string> names;
    DIR* d = opendir(".");
    while (dirent* e = readdir(d)) {
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes text to path as a program does: in.txt read, path declared, opened, finished.
  static void write_through(const char* path, const char* text) {
    output_note_input("in.txt");
    output_declare(path);
    std::fputs(text, output_open(path));
    output_finish();
  }

  std::string dir_;
  std::string cwd_;
};

using OutputSafetyDeathTest = OutputSafety;

TEST_F(OutputSafetyDeathTest, OutputOntoAnInputOrAnotherOutputIsRefusedBeforeAnyIsWritten) {
  ASSERT_EQ(link("in.txt", "hard.txt"), 0);
  ASSERT_EQ(symlink("in.txt", "sym.txt"), 0);
  ASSERT_EQ(symlink("new.xml", "dangling.xml"), 0);
  ASSERT_EQ(mkdir("sub", 0777), 0);
  struct Case {
    const char* stdin_from;            // standard input from this file, or null
    const char* stdout_to;             // standard output appended to this file, or null
    const char* input;                 // the input noted: a file, or null for standard input
    std::vector<const char*> outputs;  // null for standard output
    const char* message;               // after " *** ERROR: "
  } cases[] = {
      {nullptr, nullptr, "in.txt", {"in.txt"}, "Output file (in.txt) is the input file (in.txt)"},
      {nullptr,
       nullptr,
       "in.txt",
       {"hard.txt"},
       "Output file (hard.txt) is the input file (in.txt)"},
      {nullptr, nullptr, "in.txt", {"sym.txt"}, "Output file (sym.txt) is the input file (in.txt)"},
      {nullptr,
       nullptr,
       "in.txt",
       {"./sub/../in.txt"},
       "Output file (./sub/../in.txt) is the input file (in.txt)"},
      {"in.txt", nullptr, nullptr, {"sym.txt"}, "Output file (sym.txt) is the input file (stdin)"},
      {nullptr, "in.txt", "in.txt", {nullptr}, "Output file (stdout) is the input file (in.txt)"},
      {nullptr,
       nullptr,
       "in.txt",
       {"out.xml", "sub/../out.xml"},
       "Output files (out.xml) and (sub/../out.xml) are the same file"},
      {nullptr,
       nullptr,
       "in.txt",
       {"dangling.xml", "new.xml"},
       "Output files (dangling.xml) and (new.xml) are the same file"},
      {nullptr,
       "out.xml",
       "in.txt",
       {nullptr, "out.xml"},
       "Output files (stdout) and (out.xml) are the same file"},
  };
  const std::vector<std::string> before = files();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EXIT(
        {
          if (c.stdin_from != nullptr)
            dup2(open(c.stdin_from, O_RDONLY), STDIN_FILENO);
          if (c.stdout_to != nullptr)
            dup2(open(c.stdout_to, O_WRONLY | O_APPEND | O_CREAT, 0666), STDOUT_FILENO);
          output_note_input(c.input);
          for (const char* out : c.outputs)
            output_declare(out);
          for (const char* out : c.outputs)
            std::fputs("written\n", output_open(out));
          output_finish();
          std::exit(0);
        },
        testing::ExitedWithCode(1), testing::Eq(std::string(" *** ERROR: ") + c.message + "\n"));
  }
  EXPECT_EQ(contents("in.txt"), "data\n");
  std::vector<std::string> after = files();
  after.erase(std::remove(after.begin(), after.end(), "out.xml"), after.end());
  EXPECT_EQ(after, before);
  EXPECT_EQ(contents("out.xml"), "");  // standard output's file, opened but never written
}

TEST_F(OutputSafety, TargetIsReplacedWithItsModeAndALinkToItIsKept) {
  struct Case {
    const char* target;  // made first with "old" and mode, unless null
    mode_t mode;
    const char* written;  // the path given
  } cases[] = {
      {"plain.xml", 0600, "plain.xml"},
      {"linked.xml", 0640, "link.xml"},
      {"under_hard_link.xml", 0644, "hard.xml"},
  };
  ASSERT_EQ(symlink("linked.xml", "link.xml"), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    put(c.target, "old\n");
    ASSERT_EQ(chmod(c.target, c.mode), 0);
    if (std::string(c.written) == "hard.xml") {
      ASSERT_EQ(link(c.target, "hard.xml"), 0);
    }
    write_through(c.written, "new\n");
    EXPECT_EQ(contents(c.written), "new\n");
    struct stat st;
    ASSERT_EQ(stat(c.written, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
  }
  struct stat st;
  ASSERT_EQ(lstat("link.xml", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(contents("linked.xml"), "new\n");
  // A new file gets the mode any new file would.
  const mode_t mask = umask(022);
  write_through("fresh.xml", "new\n");
  umask(mask);
  struct stat fresh;
  ASSERT_EQ(stat("fresh.xml", &fresh), 0);
  EXPECT_EQ(fresh.st_mode & 07777, 0644u);
  EXPECT_EQ(files(), (std::vector<std::string>{"fresh.xml", "hard.xml", "in.txt", "link.xml",
                                               "linked.xml", "plain.xml", "under_hard_link.xml"}));
}

TEST_F(OutputSafety, PipeTakesSeveralOutputsInPlace) {
  ASSERT_EQ(mkfifo("pipe", 0600), 0);
  const int reader = open("pipe", O_RDWR | O_NONBLOCK);  // a reader, so that opening never waits
  ASSERT_GE(reader, 0);
  output_declare("pipe");
  output_declare("./pipe");
  std::fputs("one\n", output_open("pipe"));
  std::fputs("two\n", output_open("./pipe"));
  output_finish();
  char buf[16] = {};
  EXPECT_EQ(read(reader, buf, sizeof buf - 1), 8);
  EXPECT_STREQ(buf, "one\ntwo\n");
  close(reader);
  struct stat st;
  ASSERT_EQ(lstat("pipe", &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "pipe"}));
}

// As /dev/stdout is: a link to standard output, here onto a file opened to append.
TEST_F(OutputSafetyDeathTest, LinkToStandardOutputOntoAFileWritesThroughIt) {
  put("log.txt", "before\n");
  ASSERT_EQ(symlink("/proc/self/fd/1", "stdout_link"), 0);
  EXPECT_EXIT(
      {
        dup2(open("log.txt", O_WRONLY | O_APPEND), STDOUT_FILENO);
        write_through("stdout_link", "after\n");
        std::exit(0);
      },
      testing::ExitedWithCode(0), testing::Eq(""));
  EXPECT_EQ(contents("log.txt"), "before\nafter\n");
  struct stat st;
  ASSERT_EQ(lstat("stdout_link", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "log.txt", "stdout_link"}));
}

TEST_F(OutputSafetyDeathTest, NoTemporaryFileOutlivesASignalOrAFailure) {
  put("out.xml", "old\n");
  const std::vector<std::string> before = files();
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    EXPECT_EXIT(
        {
          std::fputs("half", output_open("out.xml"));
          raise(sig);
        },
        testing::KilledBySignal(sig), testing::Eq(""));
  }
  EXPECT_EXIT(
      {
        std::fputs("half", output_open("out.xml"));
        fail(" *** ERROR: failed\n");
      },
      testing::ExitedWithCode(1), testing::Eq(" *** ERROR: failed\n"));
  EXPECT_EQ(files(), before);
  EXPECT_EQ(contents("out.xml"), "old\n");
}

// A file that may be written, in a folder that may not: nothing can be made beside it, so it is
// written in place. Run as root, the child gives up root first, so that the folder truly
// refuses it; a file it may not write, or one not there, is refused as before.
TEST_F(OutputSafetyDeathTest, FileInAFolderThatCannotBeWrittenIsWrittenInPlace) {
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(".", 0755), 0);  // the child, as nobody, must reach in.txt and the folder
  ASSERT_EQ(mkdir("locked", 0755), 0);
  put("locked/open.csv", "old\n");
  put("locked/shut.csv", "old\n");
  ASSERT_EQ(chmod("locked/open.csv", 0666), 0);
  ASSERT_EQ(chmod("locked/shut.csv", 0444), 0);
  ASSERT_EQ(chmod("locked", 0555), 0);
  const struct {
    const char* path;
    int status;
    const char* err;
    const char* after;
  } cases[] = {
      {"locked/open.csv", 0, "", "new\n"},
      {"locked/shut.csv", 1, " *** ERROR: Unable to open file (locked/shut.csv) for writing\n",
       "old\n"},
      {"locked/new.csv", 1, " *** ERROR: Unable to open file (locked/new.csv) for writing\n",
       "(none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EXIT(
        {
          if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            std::exit(2);
          write_through(c.path, "new\n");
          std::exit(0);
        },
        testing::ExitedWithCode(c.status), testing::Eq(c.err));
    EXPECT_EQ(contents(c.path), c.after);
  }
  ASSERT_EQ(chmod("locked", 0755), 0);
  ASSERT_EQ(chdir("locked"), 0);
  EXPECT_EQ(files(), (std::vector<std::string>{"open.csv", "shut.csv"}));
  ASSERT_EQ(chdir(".."), 0);
}
