// installer: the setup wizard that lies on the installation medium beside a
// product's files, driven by config.ini in its own directory. With --silent it
// installs without any window (deploy/silent_install.h); the options and the
// exit codes are in deploy/options.h and deploy/exit_codes.h.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

#include "installer/DMsg.h"
#include "installer/FInstall.h"
#include "installer/TZMg.h"
#include "installer/deploy/exit_codes.h"
#include "installer/deploy/options.h"
#include "installer/deploy/silent_install.h"
#include "installer/wizard/install_log.h"

namespace {

using namespace zinst;

// Opens the log asked for; false (reported) when it cannot be written. It is
// opened before any application object, so that a bad path needs no display;
// the install run changes the current directory only after the file is open.
bool OpenLog(const TInstallOptions& options, TInstallLog& log) {
  if (options.LogFile.isEmpty()) return true;
  if (log.Open(options.LogFile)) return true;
  PrintError(QStringLiteral("nie można zapisać dziennika ") + options.LogFile);
  return false;
}

int Finish(TInstallLog& log, int code) {
  log.Line(QStringLiteral("Kod wyjścia instalatora: %1").arg(code));
  return code;
}

// QCoreApplication only: no platform plugin is loaded, so no display is needed.
int RunSilent(int argc, char** argv, const TInstallOptions& options, TInstallLog& log) {
  QCoreApplication app(argc, argv);
  log.Line(QStringLiteral("Instalacja bez okien (--silent)"));
  return Finish(log, TSilentInstall(options, log).Run());
}

int RunWizard(int argc, char** argv, TInstallLog& log) {
  QApplication app(argc, argv);
  std::unique_ptr<TZInstallManager> installManager;
  try {
    installManager = std::make_unique<TZInstallManager>();
  } catch (const EInstallError& error) {
    // No script and no way to write its template (a read-only medium): say
    // so and stop before the wizard opens.
    log.Line(QStringLiteral("Odmowa: ") + QString::fromUtf8(error.what()));
    TZDlgMsg(nullptr).ShowMsg(QString::fromUtf8(error.what()), kMsgOk);
    return Finish(log, kExitBadOptions);
  }
  log.Line(QStringLiteral("Kreator instalacji"));
  LogScript(log, *installManager);
  TZDlgMsg zDlgMsg;
  TFrmInstall frmInstall(*installManager, zDlgMsg, &log);
  frmInstall.show();
  app.exec();
  return Finish(log, frmInstall.ExitCode());
}

}  // namespace

int main(int argc, char** argv) {
  // The options are read before any application object exists, so that bad
  // ones and --help need no display either.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  TInstallOptions options;
  const QString error = ParseOptions(arguments, options);
  if (!error.isEmpty()) {
    PrintError(error);
    PrintError(QStringLiteral("opis opcji: installer --help"));
    return kExitBadOptions;
  }
  if (options.Help) {
    std::fputs(HelpText().toLocal8Bit().constData(), stdout);
    return kExitInstalled;
  }
  TInstallLog log;
  if (!OpenLog(options, log)) return kExitBadOptions;
  return options.Silent ? RunSilent(argc, argv, options, log) : RunWizard(argc, argv, log);
}
