#include "installer/deploy/silent_install.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "installer/TZMg.h"
#include "installer/ZUtils.h"
#include "installer/deploy/exit_codes.h"
#include "installer/platform/free_space.h"
#include "installer/platform/process_runner.h"
#include "installer/wizard/install_log.h"
#include "installer/wizard/page_rules.h"

namespace zinst {

void PrintError(const QString& text) {
  std::fputs((QStringLiteral("installer: ") + text + QLatin1Char('\n')).toLocal8Bit().constData(),
             stderr);
}

TSilentInstall::TSilentInstall(const TInstallOptions& options, TInstallLog& log,
                               const QString& appDir)
    : Options(options),
      Log(log),
      AppDirectory(IncludeTrailingSlash(appDir.isEmpty() ? AppDir() : appDir)) {}

int TSilentInstall::Run() {
  const QString script = AppDirectory + QString::fromLatin1(kScriptFileName);
  if (!QFileInfo(script).isFile()) {
    return Refuse(kExitBadOptions, QStringLiteral("brak skryptu instalacji ") + script);
  }
  std::unique_ptr<TZInstallManager> scriptManager;
  try {
    scriptManager = std::make_unique<TZInstallManager>(AppDirectory);
  } catch (const EInstallError& error) {
    // The script went away after the check above and its template could not
    // be written in its place.
    return Refuse(kExitBadOptions, QString::fromUtf8(error.what()));
  }
  const TZInstallManager& manager = *scriptManager;
  LogScript(Log, manager);
  if (manager.RunFile.isEmpty()) {
    return Refuse(kExitBadOptions, QStringLiteral("skrypt ") + script +
                                       QStringLiteral(" nie podaje programu (run_file)"));
  }
  if (!Options.AcceptLicence) {
    return Refuse(kExitCancelled,
                  QStringLiteral("instalacja przerwana: warunki licencji nie zostały "
                                 "zaakceptowane (brak --accept-licence)"));
  }
  Log.Line(QStringLiteral("Licencja zaakceptowana (--accept-licence)"));
  const std::optional<QString> dest = Destination(manager);
  if (!dest) {
    return Refuse(kExitCancelled,
                  QStringLiteral("instalacja przerwana: brak wolnego miejsca albo dostępu do "
                                 "dysku katalogu docelowego"));
  }
  TInstallRun run(manager, *this, &Log);
  if (!run.PerformInstall(IncludeTrailingSlash(*dest), !Options.NoDesktop, !Options.NoMenu)) {
    PrintError(
        QStringLiteral("UWAGA! Wystąpiły problemy podczas instalacji programu we "
                       "wskazanym katalogu."));
    return kExitRunFailed;
  }
  return kExitInstalled;
}

std::optional<QString> TSilentInstall::Destination(const TZInstallManager& manager) {
  const QString byDefault =
      DefaultDestination(manager.ProgDirName, manager.DefDirName, manager.ProgName);
  if (!manager.DestDirDlg) {
    // The run starts the program where it lies and uses no destination.
    if (!Options.Dest.isEmpty()) {
      Log.Line(QStringLiteral("--dest pominięte: program uruchamiany w miejscu (dest_dir_dlg=0)"));
    }
    return byDefault;
  }
  const QString dest = QDir::cleanPath(
      QDir::current().absoluteFilePath(Options.Dest.isEmpty() ? byDefault : Options.Dest));
  const QString drive = MountPointOf(dest);
  const int64_t megabytes = drive.isEmpty() ? 0 : FreeMegabytes(FreeBytesForUser(drive));
  if (megabytes > 0) return dest;
  Log.Line(QStringLiteral("Katalog docelowy: %1, wolne miejsce: %2 MB").arg(dest).arg(megabytes));
  return std::nullopt;
}

void TSilentInstall::WaitForStartedProgram(TStartedProcess& process) { process.Wait(); }

int TSilentInstall::Refuse(int code, const QString& text) {
  Log.Line(QStringLiteral("Odmowa: ") + text);
  PrintError(text);
  return code;
}

}  // namespace zinst
