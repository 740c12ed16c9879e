// The report on standard output, warnings on standard error, and the gain line's arithmetic.
#pragma once

#include <cstddef>

// printf to standard output, flushed at once so that each line appears as its pass ends and a
// failed write is noticed. False when the line could not be written.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
bool say(const char* fmt, ...);

// Writes one line to standard error in a single write, so that a warning from the load thread
// never splits a line of the report when both streams go to one terminal.
void warn(const char* line);

// The gain line: the pinned pass's gain over the default-affinity pass in percent, or "n/a"
// when the default pass took no measurable time. Both times in seconds.
void gain_line(char* out, std::size_t size, float t_default, float t_first);
