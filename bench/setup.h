// The run's parameters and buffers, and the driver's set-up: reading the command line and
// obtaining and filling both buffers. Everything here is set before the load thread starts and
// never written afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::int32_t DEFAULT_BUFLOG = 21;  // 2 MiB buffers
constexpr std::int32_t ARG_THRESHOLD = 16;   // an argument is taken only when above this
constexpr std::int32_t MAX_BUFLOG = 30;      // the largest size whose 1 << buflog fits
constexpr std::int32_t BUF_SLACK = 4;        // a 4-byte read at offset bufmask stays inside
constexpr std::uint64_t PROBE_MASK = 1;      // logical processor 0, for the pinned pass

// read_buflog's answer for an argument above MAX_BUFLOG.
constexpr std::int32_t BUFLOG_REFUSED = 0;

extern std::int32_t buflog;
extern std::int32_t bufsize;
extern unsigned char* probe_buf;
extern unsigned char* load_buf;

// The buffer size the command line asks for. The first argument is read as atoi reads it
// (leading blanks, an optional sign, the digits up to the first other character) but cannot
// overflow; further arguments are ignored. No argument, a value of ARG_THRESHOLD or less, or no
// digits at all mean DEFAULT_BUFLOG. A value above MAX_BUFLOG gives BUFLOG_REFUSED.
std::int32_t read_buflog(int argc, const char* const* argv);

// Sets buflog, bufsize and bufmask from lg (ARG_THRESHOLD < lg <= MAX_BUFLOG).
void set_buflog(std::int32_t lg);

// Obtains probe_buf and load_buf, bufsize + BUF_SLACK bytes each, and fills both with
// fill_buffer. False, with the buffers unset, when either cannot be obtained.
bool setup_buffers();

// Writes size bytes (a multiple of 4) of a fixed, deterministic pattern in which no byte is
// zero. A buffer that was never written is not real memory: the kernel backs every page of it
// with one shared page of zeros, and reading it is not well defined.
void fill_buffer(unsigned char* buf, std::size_t size);
