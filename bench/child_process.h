// For a child process forked to run a companion program (korvane-sim, an X server): call it in
// the child right after fork(), before exec. The child then ends with the process that started
// it however that ends (a crash, a kill, exit() from deep inside a library), so no simulator is
// left running behind a test or a bench.
#pragma once
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace bench {

// parent: getpid() of the starting process, taken before fork(). A parent that already died
// before the child got here is caught by the check (the child was handed to another process).
inline void endWithParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(1);
}

}  // namespace bench
