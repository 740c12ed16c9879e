// The progress line: one line on the terminal, rewritten in place with a carriage return.
#include "sweep/progress.h"

#include <cmath>
#include <cstdio>

#include "platform/platform.h"

namespace {

const bool on_terminal = stderr_is_terminal();

// Whole seconds as m:ss.
void minutes(char* out, std::size_t size, double seconds) {
  long s = seconds > 0.0 ? std::lround(seconds) : 0;
  std::snprintf(out, size, "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

void show_progress(int unit_no, int units, int buflog, int round, int rounds, double elapsed_s,
                   double left_s) {
  if (!on_terminal) {
    return;
  }
  char elapsed[32];
  char left[32];
  minutes(elapsed, sizeof elapsed, elapsed_s);
  minutes(left, sizeof left, left_s);
  if (rounds > 0) {
    // Larger buffers are slower, so the time left, taken from the size being measured, is a
    // lower bound.
    std::fprintf(stderr,
                 "\r\033[Kbuflog %d (%d of %d), round %d of %d, %s elapsed, at least %s left",
                 buflog, unit_no, units, round, rounds, elapsed, left);
  } else {
    std::fprintf(stderr, "\r\033[Kbuflog %d (%d of %d), round %d, %s elapsed, %s of the time left",
                 buflog, unit_no, units, round, elapsed, left);
  }
}

void clear_progress() {
  if (on_terminal) {
    std::fputs("\r\033[K", stderr);
  }
}
