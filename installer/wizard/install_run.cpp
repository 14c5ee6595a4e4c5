#include "installer/wizard/install_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>

#include "installer/TZMg.h"
#include "installer/ZUtils.h"
#include "installer/platform/desktop_entries.h"
#include "installer/platform/free_space.h"
#include "installer/platform/process_runner.h"
#include "installer/wizard/install_log.h"
#include "installer/wizard/page_rules.h"

namespace zinst {

namespace {

constexpr int kRunSliceMs = 1000;

QString DirectoryOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// A shortcut name becomes a file name: '/' would make a directory.
QString LinkFileName(QString name) {
  return name.replace(QLatin1Char('/'), QLatin1Char('_')) + QLatin1String(".desktop");
}

}  // namespace

bool TInstallRun::PerformInstall(const QString& dest, bool desktop, bool startMenu) {
  Host.ProcessMessages();
  ProgramDir.clear();
  bool result = false;
  try {
    result = RunSteps(dest, desktop, startMenu);
  } catch (const std::exception& error) {
    // Any error inside the run counts as a failed installation, which the
    // finish page reports; nothing else is to be done with it.
    Note(QStringLiteral("Błąd: ") + QString::fromUtf8(error.what()));
    result = false;
  }
  Host.StopAnimation();
  Host.SetProgress(100);
  Note(result ? QStringLiteral("Wynik: instalacja zakończona pomyślnie")
              : QStringLiteral("Wynik: instalacja nieudana"));
  return result;
}

bool TInstallRun::RunSteps(const QString& dest, bool desktop, bool startMenu) {
  Host.SetProgress(0);
  const QString file = Manager.ExpandAppDir(Manager.RunFile);
  QString target = file;
  if (Manager.DestDirDlg) {
    NoteDestination(dest);
    Host.StartAnimation();
    target = CopyRunFile(file, dest);
    if (target.isEmpty()) return false;
  } else {
    Note(QStringLiteral("Katalog docelowy: brak (dest_dir_dlg=0, program uruchamiany w miejscu)"));
  }
  if (!QFileInfo(target).isFile()) {
    Note(QStringLiteral("Brak pliku do uruchomienia: ") + target);
    return false;
  }
  Host.SetProgress(40);
  Host.ProcessMessages();
  QDir::setCurrent(DirectoryOf(target));
  Host.SetProgress(45);
  Host.ProcessMessages();
  if (!RunInstallProgram(target)) return false;
  Host.SetProgress(95);
  Host.ProcessMessages();
  if (Manager.DestDirDlg && !DeleteRunFile(target)) return false;
  CreateChosenShortcuts(DirectoryOf(target), desktop, startMenu);
  if (Manager.DestDirDlg) ProgramDir = DirectoryOf(target);
  return true;
}

void TInstallRun::CreateChosenShortcuts(const QString& programDir, bool desktop, bool startMenu) {
  if (!Manager.ShortcutDlg) {
    Note(Manager.DestDirDlg ? QStringLiteral("Skróty pominięte: shortcut_dlg=0")
                            : QStringLiteral("Skróty pominięte: dest_dir_dlg=0"));
    return;
  }
  if (desktop) {
    CreateDesktopShortcuts(programDir);
  } else {
    Note(QStringLiteral("Skróty na pulpicie pominięte: nie wybrano"));
  }
  if (startMenu) {
    CreateStartMenuShortcuts(programDir);
  } else {
    Note(QStringLiteral("Skróty w menu pominięte: nie wybrano"));
  }
}

void TInstallRun::NoteDestination(const QString& dest) {
  // The free space is read again only for the log: the wizard and the
  // unattended run have checked it before the run.
  if (Log == nullptr || !Log->IsOpen()) return;
  const QString drive = MountPointOf(dest);
  const int64_t megabytes = drive.isEmpty() ? 0 : FreeMegabytes(FreeBytesForUser(drive));
  Note(QStringLiteral("Katalog docelowy: %1, wolne miejsce: %2 MB na %3")
           .arg(dest)
           .arg(megabytes)
           .arg(drive.isEmpty() ? QStringLiteral("(brak dysku)") : drive));
}

void TInstallRun::Note(const QString& text) {
  if (Log != nullptr) Log->Line(text);
}

QString TInstallRun::CopyRunFile(const QString& file, const QString& dest) {
  const QFileInfo source(file);
  if (file.isEmpty() || !source.isFile()) {
    Note(QStringLiteral("Kopiowanie nieudane: brak pliku ") + file);
    return {};
  }
  if (dest.isEmpty() || !QDir().mkpath(dest)) {
    Note(QStringLiteral("Kopiowanie nieudane: nie można utworzyć katalogu ") + dest);
    return {};
  }
  const QString copy = IncludeTrailingSlash(dest) + source.fileName();
  const QFileInfo copyInfo(copy);
  // Copying a file onto itself would lose it when the copy is deleted.
  if (copyInfo.exists() && copyInfo.canonicalFilePath() == source.canonicalFilePath()) {
    Note(QStringLiteral("Kopiowanie nieudane: ") + copy + QStringLiteral(" to plik źródłowy"));
    return {};
  }
  if (copyInfo.exists() && !QFile::remove(copy)) {
    Note(QStringLiteral("Kopiowanie nieudane: nie można zastąpić pliku ") + copy);
    return {};
  }
  if (!QFile::copy(file, copy)) {
    Note(QStringLiteral("Kopiowanie nieudane: ") + file + QStringLiteral(" -> ") + copy);
    return {};
  }
  // A medium may not keep the execute bit; the copy is there to be run.
  QFile(copy).setPermissions(QFile(copy).permissions() | QFile::ReadOwner | QFile::WriteOwner |
                             QFile::ExeOwner | QFile::ExeUser);
  Note(QStringLiteral("Skopiowano: ") + file + QStringLiteral(" -> ") + copy);
  return copy;
}

bool TInstallRun::RunInstallProgram(const QString& target) {
  if (Manager.DestDirDlg) {
    Note(QStringLiteral("Uruchamianie: ") + target);
    const int code = ExecAndWait(target, {}, kShowHidden, kRunSliceMs);
    Note(QStringLiteral("Kod wyjścia: %1 (%2)")
             .arg(code)
             .arg(code >= 0 ? QStringLiteral("powodzenie") : QStringLiteral("niepowodzenie")));
    return code >= 0;
  }
  Note(QStringLiteral("Uruchamianie w miejscu: ") + target);
  TStartedProcess process(target);
  if (!process.Valid()) {
    Note(QStringLiteral("Nie można uruchomić: ") + target);
    return false;
  }
  Host.WaitForStartedProgram(process);
  // In this mode the run goes on whatever the program's exit code.
  if (process.StillActive()) {
    Note(QStringLiteral("Program nadal działa; instalacja trwa dalej"));
  } else {
    Note(QStringLiteral("Program zakończony, kod wyjścia: %1").arg(process.ExitCode()));
  }
  return true;
}

bool TInstallRun::DeleteRunFile(const QString& target) {
  QFile file(target);
  file.setPermissions(file.permissions() | QFile::WriteOwner | QFile::WriteUser);
  const bool deleted = file.remove();
  Note((deleted ? QStringLiteral("Usunięto kopię: ") : QStringLiteral("Nie można usunąć kopii: ")) +
       target);
  return deleted;
}

void TInstallRun::CreateDesktopShortcuts(const QString& programDir) {
  const QString desktop = GetSpecialFolder(kFolderDesktop);
  if (desktop.isEmpty()) {
    Note(QStringLiteral("Skróty na pulpicie pominięte: nie można ustalić katalogu pulpitu"));
    return;
  }
  CreateShortcuts(desktop, programDir);
}

void TInstallRun::CreateStartMenuShortcuts(const QString& programDir) {
  const QString programs = GetSpecialFolder(kFolderPrograms);
  if (programs.isEmpty()) {
    Note(QStringLiteral("Skróty w menu pominięte: nie można ustalić katalogu menu programów"));
    return;
  }
  const QStringList group = (Manager.DefDirName + QLatin1Char('/') + Manager.ProgName)
                                .split(QLatin1Char('/'), Qt::SkipEmptyParts);
  const QString folder = programs + (group.isEmpty() ? QString() : group.join(QLatin1Char('/')));
  const QStringList entries = CreateShortcuts(folder, programDir);
  if (group.isEmpty() || entries.isEmpty()) return;
  QStringList relative;
  for (const QString& entry : entries) relative << QDir(programs).relativeFilePath(entry);
  const QString name = group.join(QLatin1Char('/'));
  Note((WriteMenuGroup(group, relative) ? QStringLiteral("Grupa menu zapisana: ")
                                        : QStringLiteral("Grupa menu niezapisana: ")) +
       name);
}

QStringList TInstallRun::CreateShortcuts(const QString& folder, const QString& programDir) {
  const QString linkFolder = IncludeTrailingSlash(folder);
  QStringList files, names, icons, written;
  SplitString(files, Manager.ShortcutFileName, QStringLiteral("|"));
  SplitString(names, Manager.ShortcutDescr, QStringLiteral("|"));
  SplitString(icons, Manager.ShortcutIco, QStringLiteral("|"));
  if (files.isEmpty()) {
    Note(QStringLiteral("Skróty w %1 pominięte: shortcut_file_name jest pusty").arg(linkFolder));
  }
  const QString dir = IncludeTrailingSlash(programDir);
  for (qsizetype i = 0; i < files.size(); ++i) {
    const QString target = dir + files[i];
    // An empty name would make a hidden ".desktop" file: fall back to the
    // program's name, then to the target's own name.
    QString name = i < names.size() ? names[i] : QString();
    if (name.isEmpty()) name = Manager.ProgName;
    if (name.isEmpty()) name = QFileInfo(files[i]).completeBaseName();
    const QString icon = i < icons.size() ? dir + icons[i] : QString();
    const QString linkFile = linkFolder + LinkFileName(name);
    if (!QDir().mkpath(DirectoryOf(linkFile))) {
      Note(QStringLiteral("Skrót pominięty: ") + linkFile +
           QStringLiteral(" (nie można utworzyć katalogu)"));
      continue;
    }
    if (!CreateShellLink(target, icon, linkFile)) {
      Note(QStringLiteral("Skrót pominięty: ") + linkFile +
           QStringLiteral(" (nie można zapisać pliku)"));
      continue;
    }
    Note(QStringLiteral("Skrót zapisany: ") + linkFile + QStringLiteral(" -> ") + target);
    written << linkFile;
  }
  return written;
}

bool TInstallRun::CreateShellLink(const QString& target, const QString& icon,
                                  const QString& linkFile) {
  return WriteDesktopEntry(target, icon, linkFile);
}

}  // namespace zinst
