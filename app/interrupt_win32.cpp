// Ctrl-C ends the program in order: output stopped, "Exit!" shown, status 0.
//
// Windows runs the handler on a thread of its own while the loop goes on. So
// the handler first stops the loop's thread where it stands, as a signal does
// on POSIX, so that no glyph or pulse can follow the message. That thread may
// be stopped holding the C runtime's stream locks, so the message goes straight
// to the standard output handle, and the process ends by TerminateProcess,
// which skips the runtime's shutdown (ExitProcess, and so _exit, would run it,
// and it takes those locks).
#include <windows.h>

#include <signal.h>

#include "app/interrupt.h"
#include "carrier/carrier_output.h"

namespace {

// The thread that runs the transmission loop, the one that installed the
// handler; null if it couldn't be had, and then it is not stopped.
HANDLE loop_thread = nullptr;
DWORD loop_thread_id = 0;

void stop_loop_thread() {
  if (loop_thread == nullptr || GetCurrentThreadId() == loop_thread_id) return;
  if (SuspendThread(loop_thread) == static_cast<DWORD>(-1)) return;
  // SuspendThread only asks; reading the thread's registers returns once it
  // has actually stopped.
  CONTEXT registers;
  registers.ContextFlags = CONTEXT_CONTROL;
  (void)GetThreadContext(loop_thread, &registers);
}

extern "C" void on_interrupt(int) {
  stop_loop_thread();
  carrier_close();
  // The rest of the output goes through the runtime in text mode, which
  // writes "\n" as "\r\n"; the message keeps to that.
  static const char message[] = "\r\nExit!\r\n";
  DWORD written = 0;
  (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), message, sizeof message - 1, &written,
                  nullptr);
  TerminateProcess(GetCurrentProcess(), 0);
}

}  // namespace

void install_interrupt_handler() {
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &loop_thread,
                      THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0)) {
    loop_thread_id = GetCurrentThreadId();
  } else {
    loop_thread = nullptr;
  }
  signal(SIGINT, on_interrupt);
}
