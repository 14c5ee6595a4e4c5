#include "installer/platform/process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <vector>

extern char** environ;

namespace zinst {

int RunAndWait(const QString& program, const QStringList& arguments, int sliceMs, bool kill) {
  if ((QStringList{program} + arguments).join(QLatin1Char(' ')).size() > kMaxCommandLine) {
    return kCannotStart;
  }
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setProgram(program);
  process.setArguments(arguments);
  process.start();
  if (!process.waitForStarted(-1)) return kCannotStart;

  QEventLoop loop;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer slice;
  bool killed = false;
  if (sliceMs > 0) {
    QObject::connect(&slice, &QTimer::timeout, &loop, [&] {
      if (!kill) return;
      killed = true;
      process.kill();
    });
    slice.start(sliceMs);
  }
  if (process.state() != QProcess::NotRunning) loop.exec();
  slice.stop();
  if (process.state() != QProcess::NotRunning) process.waitForFinished(-1);
  QCoreApplication::processEvents();
  if (killed) return kKilledExitCode;
  if (process.exitStatus() == QProcess::CrashExit) {
    return process.exitCode() > 0 ? -process.exitCode() : kCannotStart;
  }
  return process.exitCode();
}

TStartedProcess::TStartedProcess(const QString& program) {
  const QByteArray path = QFile::encodeName(program);
  std::vector<char*> argv{const_cast<char*>(path.constData()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ) == 0) Pid = pid;
  posix_spawn_file_actions_destroy(&actions);
}

TStartedProcess::~TStartedProcess() {
  // A process that has ended is reaped here; one still running is left alone
  // (it is reaped by the system when the installer ends).
  if (Valid() && !Ended) StillActive();
}

bool TStartedProcess::StillActive() {
  if (!Valid() || Ended) return false;
  int status = 0;
  const pid_t result = waitpid(Pid, &status, WNOHANG);
  if (result == 0) return true;
  if (result == Pid) {
    Reaped(status);
  } else {
    Ended = true;  // not our child any more (ECHILD): nothing left to wait for
  }
  return false;
}

void TStartedProcess::Wait() {
  if (!Valid() || Ended) return;
  int status = 0;
  pid_t result = -1;
  do {
    result = waitpid(Pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result == Pid) {
    Reaped(status);
  } else {
    Ended = true;
  }
}

void TStartedProcess::Reaped(int status) {
  Ended = true;
  if (WIFEXITED(status)) Code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) Code = -WTERMSIG(status);
}

}  // namespace zinst
