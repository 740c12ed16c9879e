// The load thread: the same pass as the driver's, over its own buffer, without end.
#include "bench/load.h"

#include "bench/driver.h"
#include "bench/pass.h"

unsigned long THREAD_CALL load_thread(void*) {
  restrict_current_thread(LOAD_MASK);
  for (;;) {
    timed_pass(load_buf);
  }
}
