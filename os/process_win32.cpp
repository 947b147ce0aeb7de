// SPDX-License-Identifier: MIT
// Ending the run on Windows as _exit does on POSIX: nothing of the C runtime or of the
// program's statics is torn down while another thread may still be inside a dialog, and the
// exit code is 0 whichever thread asks. ExitProcess would run the DLLs' detach code with the
// other threads stopped wherever they were.
#include <windows.h>

#include <cstdio>

#include "common/process.h"

namespace zoq {

void end_process() {
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), 0);
    // Not reached: termination of the own process does not come back to its caller.
    ::ExitProcess(0);
}

}  // namespace zoq
