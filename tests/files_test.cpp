// The platform layer's services for the sweep's stopping and its files: the interruption flag
// and the exit on a second interruption, whether two paths name one file, and files that take
// their name only once they are complete. Each interruption case runs in a child process, since
// the handlers stay installed; each file test works in a scratch directory of its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>
#else
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#endif

namespace {

namespace fs = std::filesystem;

// --- Interruption

#if !defined(_WIN32)

// Ends with 130 when the first signal only set the flag and the second ended the process; with
// 1 to 3, and a message, where it went wrong.
[[noreturn]] void interrupt_twice(int first, int second) {
  watch_interrupts();
  if (interrupted()) {
    std::fputs("interrupted before any signal\n", stderr);
    std::_Exit(1);
  }
  raise(first);
  if (!interrupted()) {
    std::fputs("the first signal set no flag\n", stderr);
    std::_Exit(2);
  }
  raise(second);
  std::fputs("still running after the second signal\n", stderr);
  std::_Exit(3);
}

TEST(WatchInterrupts, FirstSetsTheFlagSecondEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int pairs[][2] = {{SIGINT, SIGINT}, {SIGTERM, SIGTERM}, {SIGINT, SIGTERM}};
  for (const auto& pair : pairs) {
    EXPECT_EXIT(interrupt_twice(pair[0], pair[1]), testing::ExitedWithCode(interrupted_status()),
                "")
        << "signals " << pair[0] << " then " << pair[1];
  }
  EXPECT_EQ(interrupted_status(), 130);
}

// The first signal arrives while the main thread waits in a read, as it may be inside a write of
// the sweep's output: the read carries on. Ends with 0 when it did, 1 when it failed.
[[noreturn]] void interrupt_read() {
  watch_interrupts();
  int fds[2];
  if (pipe(fds) != 0) {
    std::_Exit(2);
  }
  pthread_t reader = pthread_self();
  // If the signal should come before the read begins, the read still succeeds: the case can
  // only fail to show a fault, never show one that is not there.
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(reader, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (write(fds[1], "x", 1) != 1) {
      std::_Exit(2);
    }
  });
  char c = 0;
  ssize_t n = read(fds[0], &c, 1);
  int error = errno;
  other.join();
  if (n != 1 || !interrupted()) {
    std::fprintf(stderr, "read gave %d (%s); interrupted %d\n", static_cast<int>(n),
                 std::strerror(error), interrupted() ? 1 : 0);
    std::_Exit(1);
  }
  std::_Exit(0);
}

TEST(WatchInterrupts, BlockingCallsCarryOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(interrupt_read(), testing::ExitedWithCode(0), "");
}

#else

// Ctrl-C, twice, in a console of the child's own, so that the event reaches no other process.
// Ends with STATUS_CONTROL_C_EXIT when the first only set the flag and the second ended the
// process; with 1 to 3, and a message, where it went wrong.
[[noreturn]] void interrupt_twice() {
  FreeConsole();
  if (AllocConsole() == 0) {
    std::fputs("no console\n", stderr);
    std::_Exit(1);
  }
  watch_interrupts();
  if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
    std::fputs("no Ctrl-C sent\n", stderr);
    std::_Exit(1);
  }
  // The handler runs on a thread of its own, some time later; the bound only keeps a lost event
  // from hanging the test.
  for (int wait = 0; wait < 1000 && !interrupted(); ++wait) {
    Sleep(10);
  }
  if (!interrupted()) {
    std::fputs("the first Ctrl-C set no flag\n", stderr);
    std::_Exit(2);
  }
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  Sleep(10000);
  std::fputs("still running after the second Ctrl-C\n", stderr);
  std::_Exit(3);
}

TEST(WatchInterrupts, FirstSetsTheFlagSecondEnds) {
  EXPECT_EXIT(interrupt_twice(), testing::ExitedWithCode(interrupted_status()), "");
  EXPECT_EQ(static_cast<unsigned>(interrupted_status()), 0xC000013Au);
}

#endif

#if defined(_WIN32)
constexpr bool WINDOWS = true;
#else
constexpr bool WINDOWS = false;
#endif

// A new directory under the test runner's temporary directory, made the working directory so that
// the cases can use relative names; the previous one is restored and the directory removed when
// the test ends.
struct scratch {
  fs::path dir;
  fs::path previous;

  scratch() {
    std::error_code error;
    previous = fs::current_path(error);
    fs::path base = fs::path(testing::TempDir()) / "files_test_";
    for (int n = 0; n < 1000 && dir.empty(); ++n) {
      fs::path candidate = base.string() + std::to_string(n);
      if (fs::create_directory(candidate, error)) {
        dir = fs::canonical(candidate, error);
      }
    }
    fs::current_path(dir, error);
  }
  scratch(const scratch&) = delete;
  scratch& operator=(const scratch&) = delete;

  ~scratch() {
    std::error_code error;
    fs::current_path(previous, error);
    fs::remove_all(dir, error);
  }
};

void put(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The whole of a file, or "(none)" when it cannot be read.
std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return "(none)";
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in a directory.
std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// --- same_file

struct same_case {
  const char* a;
  const char* b;
  bool same;
  bool links;  // uses the symbolic links, which only the Linux run makes
};

// In a directory holding the files a and b, the directory d with the file d/c, h a hard link to a,
// s a symbolic link to a, dl a dangling link to new1, d/dl2 one to ../new2 (relative to its own
// directory), and s2 a link to dl. Nothing else exists.
const same_case SAME_CASES[] = {
    {"a", "a", true, false},
    {"a", "./a", true, false},
    {"a", "d/../a", true, false},
    {"d/c", "./d/./c", true, false},
    {"a", "b", false, false},
    {"a", "d/c", false, false},
    {"a", "h", true, false},
    {"a", "new", false, false},
    // Neither exists yet: the same file once created, or not.
    {"new", "./new", true, false},
    {"new", "d/../new", true, false},
    {"new", "d/new", false, false},
    {"new", "d/other", false, false},
    {"new", "other", false, false},
    // Windows names ignore case, Linux names do not.
    {"new", "NEW", WINDOWS, false},
    {"a", "A", WINDOWS, false},
    // A path whose directory does not exist names no file.
    {"nodir/x", "nodir/x", false, false},
    {"a", "s", true, true},
    {"dl", "new1", true, true},
    {"s2", "new1", true, true},
    {"d/dl2", "new2", true, true},
    {"d/dl2", "d/new2", false, true},
    {"dl", "new2", false, true},
};

TEST(SameFile, Cases) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  put("a", "a");
  put("b", "b");
  fs::create_directory("d");
  put("d/c", "c");
  fs::create_hard_link("a", "h");
  if (!WINDOWS) {
    fs::create_symlink("a", "s");
    fs::create_symlink("new1", "dl");
    fs::create_symlink("../new2", "d/dl2");
    fs::create_symlink("dl", "s2");
  }
  for (const same_case& c : SAME_CASES) {
    if (c.links && WINDOWS) {
      continue;
    }
    EXPECT_EQ(same_file(c.a, c.b), c.same) << c.a << " and " << c.b;
    EXPECT_EQ(same_file(c.b, c.a), c.same) << c.b << " and " << c.a;
  }
  // Absolute and relative names of one file.
  EXPECT_TRUE(same_file((s.dir / "a").string(), "a"));
  EXPECT_TRUE(same_file((s.dir / "new").string(), "new"));
}

// --- open_pending, commit_pending, discard_pending

struct pending_case {
  const char* name;
  bool existed;  // the target held "old" before
  bool commit;   // or discard
};

const pending_case PENDING_CASES[] = {
    {"commit over a file", true, true},
    {"commit of a new file", false, true},
    {"discard beside a file", true, false},
    {"discard of a new file", false, false},
};

TEST(PendingFile, TargetChangesOnlyOnCommit) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  for (const pending_case& c : PENDING_CASES) {
    SCOPED_TRACE(c.name);
    fs::path target = s.dir / "x.json";
    std::error_code error;
    fs::remove(target, error);
    if (c.existed) {
      put(target, "old");
    }
    std::string before = contents(target);
    pending_file file;
    std::string problem;
    ASSERT_TRUE(open_pending(target.string(), &file, &problem)) << problem;
    ASSERT_NE(file.out, nullptr);
    EXPECT_EQ(file.target, target.string());
    // Beside the target, so that the rename stays on one file system.
    EXPECT_EQ(fs::path(file.temp).parent_path(), target.parent_path());
    ASSERT_GE(std::fputs("new\ncontents\n", file.out), 0);
    ASSERT_EQ(std::fflush(file.out), 0);
    EXPECT_EQ(contents(target), before) << "while pending";
    EXPECT_EQ(contents(file.temp), WINDOWS ? "new\r\ncontents\r\n" : "new\ncontents\n");
    if (c.commit) {
      EXPECT_TRUE(commit_pending(&file, &problem)) << problem;
      EXPECT_EQ(contents(target), WINDOWS ? "new\r\ncontents\r\n" : "new\ncontents\n");
    } else {
      discard_pending(&file);
      EXPECT_EQ(contents(target), before);
    }
    EXPECT_EQ(file.out, nullptr);
    // Nothing is left open, so a discard now does nothing.
    discard_pending(&file);
    std::set<std::string> expected;
    if (c.existed || c.commit) {
      expected.insert("x.json");
    }
    EXPECT_EQ(listing(s.dir), expected) << "no temporary file is left";
  }
}

TEST(PendingFile, OpenFailsWhereNoFileCanBeMade) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  fs::create_directory("dir");
  struct {
    std::string target;
    int error;
  } const cases[] = {
      {(s.dir / "missing" / "x.json").string(), ENOENT},
      // A directory could not be replaced at the end.
      {(s.dir / "dir").string(), EISDIR},
  };
  for (const auto& c : cases) {
    pending_file file;
    std::string problem;
    EXPECT_FALSE(open_pending(c.target, &file, &problem)) << c.target;
    EXPECT_EQ(problem, "cannot create " + c.target + ": " + std::strerror(c.error));
    EXPECT_EQ(file.out, nullptr);
  }
  EXPECT_EQ(listing(s.dir), std::set<std::string>{"dir"});
}

TEST(PendingFile, FailedCommitRemovesTheTemporaryFile) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  std::string target = (s.dir / "x.json").string();
  pending_file file;
  std::string problem;
  ASSERT_TRUE(open_pending(target, &file, &problem)) << problem;
  std::fputs("new", file.out);
  // A directory in the target's place by the time the file is complete cannot be replaced.
  fs::create_directory(target);
  put(fs::path(target) / "inside", "kept");
  EXPECT_FALSE(commit_pending(&file, &problem));
  std::string start = "cannot replace " + target + ": ";
  EXPECT_EQ(problem.compare(0, start.size(), start), 0) << problem;
  EXPECT_GT(problem.size(), start.size()) << "no reason given";
  EXPECT_EQ(file.out, nullptr);
  EXPECT_EQ(listing(s.dir), std::set<std::string>{"x.json"});
  EXPECT_EQ(contents(fs::path(target) / "inside"), "kept");
}

#if !defined(_WIN32)

TEST(PendingFile, CommittedFileHasTheModeFopenGives) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  mode_t mask = umask(0);
  umask(mask);
  pending_file file;
  std::string problem;
  ASSERT_TRUE(open_pending("x.json", &file, &problem)) << problem;
  ASSERT_TRUE(commit_pending(&file, &problem)) << problem;
  struct stat info;
  ASSERT_EQ(stat("x.json", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
}

TEST(PendingFile, ReplacesTheFileALinkLeadsTo) {
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  fs::create_directory("d");
  put("d/real.json", "old");
  fs::create_symlink("d/real.json", "link.json");
  fs::create_symlink("d/fresh.json", "dangling.json");
  for (const char* link : {"link.json", "dangling.json"}) {
    pending_file file;
    std::string problem;
    ASSERT_TRUE(open_pending(link, &file, &problem)) << problem;
    std::fputs(link, file.out);
    ASSERT_TRUE(commit_pending(&file, &problem)) << problem;
    EXPECT_TRUE(fs::is_symlink(link)) << link;
    EXPECT_EQ(contents(link), link);
  }
  EXPECT_EQ(listing("d"), (std::set<std::string>{"fresh.json", "real.json"}));
}

#else

TEST(PendingFile, OpenFailsOnAReadOnlyTarget) {
  // MoveFileEx would not replace it, as fopen would not write it.
  scratch s;
  ASSERT_FALSE(s.dir.empty());
  put("x.json", "old");
  fs::permissions("x.json", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  pending_file file;
  std::string problem;
  EXPECT_FALSE(open_pending("x.json", &file, &problem));
  EXPECT_EQ(problem, std::string("cannot create x.json: ") + std::strerror(EACCES));
  fs::permissions("x.json", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(listing(s.dir), std::set<std::string>{"x.json"});
  EXPECT_EQ(contents("x.json"), "old");
}

#endif

}  // namespace
