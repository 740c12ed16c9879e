// The set-up: the command line, the buffer size and the two buffers, filled.
#include "bench/setup.h"

#include <cstring>
#include <new>

#include "bench/pass.h"

std::int32_t buflog = DEFAULT_BUFLOG;
std::int32_t bufsize;
unsigned char* probe_buf;
unsigned char* load_buf;

namespace {

bool is_blank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

}  // namespace

std::int32_t read_buflog(int argc, const char* const* argv) {
  if (argc < 2 || argv[1] == nullptr) {
    return DEFAULT_BUFLOG;
  }
  const char* p = argv[1];
  while (is_blank(*p)) {
    ++p;
  }
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') {
    ++p;
  }
  // Stop growing once past MAX_BUFLOG: any larger magnitude has the same answer.
  std::int32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= MAX_BUFLOG) {
      value = value * 10 + (*p - '0');
    }
  }
  if (negative || value <= ARG_THRESHOLD) {
    return DEFAULT_BUFLOG;
  }
  return value > MAX_BUFLOG ? BUFLOG_REFUSED : value;
}

void set_buflog(std::int32_t lg) {
  buflog = lg;
  bufsize = std::int32_t{1} << buflog;
  bufmask = bufsize - 1;
}

void fill_buffer(unsigned char* buf, std::size_t size) {
  // Each 4-byte word is a hash of its index, so words at different offsets differ and a pass's
  // sum depends on which offsets it reads; setting the low bit of every byte keeps each byte
  // non-zero. A word at a time keeps even two 1 GiB buffers quick to fill.
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    std::uint32_t h = static_cast<std::uint32_t>(i / 4) * 2654435761u;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h |= 0x01010101u;
    std::memcpy(buf + i, &h, sizeof h);
  }
}

bool setup_buffers() {
  std::size_t size = static_cast<std::size_t>(bufsize) + BUF_SLACK;
  unsigned char* probe = static_cast<unsigned char*>(::operator new(size, std::nothrow));
  unsigned char* load = static_cast<unsigned char*>(::operator new(size, std::nothrow));
  if (probe == nullptr || load == nullptr) {
    ::operator delete(probe);
    ::operator delete(load);
    return false;
  }
  fill_buffer(probe, size);
  fill_buffer(load, size);
  probe_buf = probe;
  load_buf = load;
  return true;
}
