#pragma once

#include <QString>
#include <optional>

#include "installer/deploy/options.h"
#include "installer/wizard/install_run.h"

namespace zinst {

class TInstallLog;

// The unattended install (--silent): what the user decides in the wizard comes
// from the options, and the Finish page's install run follows without any
// window. Needs only a QCoreApplication.
//
// Steps, each ending the install with its exit code (exit_codes.h) when it fails:
//  1. the script config.ini must exist; unlike the wizard, no template is
//     written in its place (3);
//  2. the script is read (and logged); it must name a run_file (3);
//  3. the licence must be accepted with --accept-licence (2);
//  4. copy-and-run mode: the destination is --dest (made absolute against the
//     current directory) or the wizard's default destination, and must show
//     more than 0 MB free, as the wizard's Next button requires (2);
//     run-in-place mode: --dest is ignored (logged);
//  5. the install run with the shortcuts --no-desktop and --no-menu leave
//     chosen; the started program of the run-in-place mode is waited for (0/1).
// Refusals and a failed run are reported on standard error, in Polish.
class TSilentInstall final : public TInstallHost {
 public:
  // appDir is the directory of the script (default: the executable's).
  TSilentInstall(const TInstallOptions& options, TInstallLog& log,
                 const QString& appDir = QString());

  int Run();

 private:
  // TInstallHost: there is no window to update.
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  void StartAnimation() override {}
  void StopAnimation() override {}
  void WaitForStartedProgram(TStartedProcess& process) override;

  // The destination of step 4; none after a refusal.
  std::optional<QString> Destination(const TZInstallManager& manager);
  // Logs and prints text; returns code.
  int Refuse(int code, const QString& text);

  const TInstallOptions& Options;
  TInstallLog& Log;
  QString AppDirectory;
};

// Writes "installer: <text>" to standard error.
void PrintError(const QString& text);

}  // namespace zinst
