// The platform layer's services for the sweep's stopping: the interruption flag and the exit on a
// second interruption. Each case runs in a child process, since the handlers stay installed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#endif

namespace {

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

}  // namespace
