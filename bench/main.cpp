// affinity_gain: measures how much a memory-bound thread gains from being pinned to logical
// processor 0 while an identical workload runs pinned to logical processor 1.
//
// Usage: affinity_gain [buflog]   (buffers of 2^buflog bytes, 17 to 30; default 21)
//
// The driver times three passes over its own buffer while the load thread runs: a warm-up, one
// with the system's default affinity, and one after pinning itself to processor 0. Only the pass
// runs inside a timed region; everything else happens between passes.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bench/load.h"
#include "bench/pass.h"
#include "bench/report.h"
#include "bench/setup.h"
#include "platform/platform.h"

namespace {

int write_failed() {
  std::fprintf(stderr, "affinity_gain: cannot write the report: %s\n", std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::int32_t lg = read_buflog(argc, argv);
  if (lg == BUFLOG_REFUSED) {
    std::fprintf(stderr, "affinity_gain: buflog is too large; give a value from %d to %d\n",
                 ARG_THRESHOLD + 1, MAX_BUFLOG);
    return 2;
  }
  set_buflog(lg);
  if (!setup_buffers()) {
    std::fprintf(stderr, "affinity_gain: cannot obtain two buffers of %lld bytes\n",
                 static_cast<long long>(bufsize) + BUF_SLACK);
    return 1;
  }
  if (!say("buflog=%i bufsize=%i\n", buflog, bufsize)) {
    return write_failed();
  }
  if (!start_thread(load_thread)) {
    std::fprintf(stderr, "affinity_gain: cannot start the load thread\n");
    return 1;
  }

  std::int32_t ms = timed_pass(probe_buf);
  if (!say("(cache flush) first run    = %.3fs\n", ms / 1000.0)) {
    return write_failed();
  }

  ms = timed_pass(probe_buf);
  float t_default = static_cast<float>(ms / 1000.0);
  if (!say("time with default affinity = %.3fs\n", t_default)) {
    return write_failed();
  }

  if (!restrict_current_thread(PROBE_MASK)) {
    // Without this the report would present an unpinned pass as the pinned one.
    warn(
        "affinity_gain: warning: main thread not pinned to logical processor 0; the \"first "
        "core only\" pass runs where the system schedules it\n");
  }
  ms = timed_pass(probe_buf);
  float t_first = static_cast<float>(ms / 1000.0);
  if (!say("time with first core only  = %.3fs\n", t_first)) {
    return write_failed();
  }

  char gain[64];
  gain_line(gain, sizeof gain, t_default, t_first);
  if (!say("%s", gain)) {
    return write_failed();
  }
  return 0;
}
