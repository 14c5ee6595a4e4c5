#pragma once

#include <sys/types.h>

#include <QString>
#include <QStringList>

namespace zinst {

// Exit code given when the process cannot be started, and when a command line
// is longer than a setup program's command line may be.
constexpr int kCannotStart = -1;
// Exit code of a process ended because its wait ran out (the Windows WAIT_TIMEOUT).
constexpr int kKilledExitCode = 258;
// Longest command line accepted: a buffer of 512 characters with its terminator.
constexpr int kMaxCommandLine = 511;

// Starts program with arguments, without a shell, in the current directory
// with the current environment, and waits for it in slices of sliceMs
// milliseconds (0: one endless slice), the event loop running all the while.
// When a slice runs out and kill is set, the process is ended and
// kKilledExitCode returned. Returns the exit code; a process ended by a
// signal gives minus the signal number; kCannotStart when it cannot be started
// or the command line (program and arguments joined by blanks) is longer than
// kMaxCommandLine.
int RunAndWait(const QString& program, const QStringList& arguments, int sliceMs, bool kill);

// A program started without waiting for it (the run-in-place mode). The
// process is not ended when this object goes: a setup program keeps running
// when the user stops waiting for it.
class TStartedProcess final {
 public:
  // Starts program without a shell; Valid() tells whether it runs.
  explicit TStartedProcess(const QString& program);
  TStartedProcess(const TStartedProcess&) = delete;
  TStartedProcess& operator=(const TStartedProcess&) = delete;
  ~TStartedProcess();

  bool Valid() const { return Pid > 0; }
  // True until the process has ended; reaps it then.
  bool StillActive();
  // Blocks until the process has ended and reaps it (the unattended install,
  // which has no window to keep alive).
  void Wait();
  // Once ended: its exit code, or minus the signal number that ended it (the
  // rule of RunAndWait); kCannotStart before.
  int ExitCode() const { return Code; }

 private:
  void Reaped(int status);

  pid_t Pid = -1;
  bool Ended = false;
  int Code = kCannotStart;
};

}  // namespace zinst
