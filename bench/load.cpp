// The load thread: the same pass as the driver's, over its own buffer, without end.
#include "bench/load.h"

#include "bench/pass.h"
#include "bench/report.h"
#include "bench/setup.h"

unsigned long THREAD_CALL load_thread(void*) {
  if (!restrict_current_thread(LOAD_MASK)) {
    // Said once, before the first pass; the report itself stays as it is.
    warn(
        "affinity_gain: warning: load thread not pinned to logical processor 1; it runs where "
        "the system schedules it\n");
  }
  for (;;) {
    timed_pass(load_buf);
  }
}
