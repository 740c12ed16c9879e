// The report's output, the warnings, and the report's one computed figure, the gain.
#include "bench/report.h"

#include <cstdarg>
#include <cstdio>

bool say(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int written = std::vprintf(fmt, args);
  va_end(args);
  return written >= 0 && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

void warn(const char* line) {
  // Standard error is unbuffered: one fputs is one write.
  std::fputs(line, stderr);
}

void gain_line(char* out, std::size_t size, float t_default, float t_first) {
  if (!(t_default > 0.0f)) {
    // A default pass of 0 ms would divide by zero; a percentage of it means nothing.
    std::snprintf(out, size, "speed gain is n/a\n");
    return;
  }
  double gain = (static_cast<double>(t_default) - t_first) * 100.0 / t_default;
  std::snprintf(out, size, "speed gain is %4.2f%%\n", gain);
}
