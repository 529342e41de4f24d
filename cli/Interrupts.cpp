#include "cli/Interrupts.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

namespace qv::cli {
namespace {

// The exit status of a process ended by Ctrl-C, as shells report it.
constexpr int kInterruptedStatus = 130;

constexpr const char kFirstText[] =
    "\nqvtool: stopping after the current block; the flash is then protected and ISP mode left "
    "(Ctrl-C again quits at once)\n";
constexpr const char kSecondText[] = "\nqvtool: quit at once\n";

// A signal handler can reach nothing but static storage, so the count lives here and nowhere
// else; everything else reads it through the reference Install returns.
std::atomic<int>& Count() {
  static std::atomic<int> count{0};
  static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free count");
  return count;
}

#ifdef _WIN32
void Say(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
            nullptr);
}

// Windows ends the process as soon as the handler returns from a close, logoff or shutdown event,
// and at the latest about 5 s after the event: the handler holds on for most of that, while the
// command stops at its block and leaves the device protected and out of ISP mode; the process
// ends sooner when the command has ended.
constexpr DWORD kSessionEndGraceMs = 4500;

BOOL WINAPI OnControl(DWORD event) {
  const bool ending =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && !ending) return FALSE;
  if (++Count() == 1) {
    Say(kFirstText);
    if (ending) Sleep(kSessionEndGraceMs);
    return TRUE;
  }
  Say(kSecondText);
  ExitProcess(kInterruptedStatus);
}
#else
void Say(const char* text) {
  // write() is one of the few calls a signal handler may make.
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

extern "C" void OnSignal(int) {
  if (++Count() == 1) {
    Say(kFirstText);
    return;
  }
  Say(kSecondText);
  _exit(kInterruptedStatus);
}
#endif

}  // namespace

std::atomic<int>& InstallInterruptHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Device requests and file writes in progress go on after the handler has counted.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A reader that went away (qvtool ... | head) must not end the tool in the middle of an erase:
  // the write fails instead, and the tool finishes with the device safe.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
#endif
  return Count();
}

}  // namespace qv::cli
