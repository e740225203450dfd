// Ctrl-C ends the program in order: output stopped, "Exit!" shown, status 0.
// Ctrl-Break, the console window closed, the user logging off and the
// system shutting down end it the same way, with the status Windows gives a
// program ended by its console (STATUS_CONTROL_C_EXIT).
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

void end_in_order(UINT status) {
  stop_loop_thread();
  carrier_close();
  // The rest of the output goes through the runtime in text mode, which
  // writes "\n" as "\r\n"; the message keeps to that.
  static const char message[] = "\r\nExit!\r\n";
  DWORD written = 0;
  (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), message, sizeof message - 1, &written,
                  nullptr);
  TerminateProcess(GetCurrentProcess(), status);
}

extern "C" void on_interrupt(int) { end_in_order(0); }

// Ctrl-C is left to the runtime's SIGINT, and so to on_interrupt.
BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT) return FALSE;
  end_in_order(STATUS_CONTROL_C_EXIT);
  return TRUE;
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
  // Called before the runtime's own handler, which was registered first.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}
