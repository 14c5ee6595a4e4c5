#include "installer/wizard/install_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>

#include "installer/TZMg.h"
#include "installer/ZUtils.h"
#include "installer/platform/desktop_entries.h"
#include "installer/platform/process_runner.h"

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
    Host.SetProgress(0);
    const QString file = Manager.ExpandAppDir(Manager.RunFile);
    QString target = file;
    if (Manager.DestDirDlg) {
      Host.StartAnimation();
      target = CopyRunFile(file, dest);
    }
    if (!target.isEmpty() && QFileInfo(target).isFile()) {
      Host.SetProgress(40);
      Host.ProcessMessages();
      QDir::setCurrent(DirectoryOf(target));
      Host.SetProgress(45);
      Host.ProcessMessages();
      if (RunInstallProgram(target)) {
        Host.SetProgress(95);
        Host.ProcessMessages();
        if (!Manager.DestDirDlg || DeleteRunFile(target)) {
          if (Manager.ShortcutDlg && desktop) CreateDesktopShortcuts(DirectoryOf(target));
          if (Manager.ShortcutDlg && startMenu) CreateStartMenuShortcuts(DirectoryOf(target));
          if (Manager.DestDirDlg) ProgramDir = DirectoryOf(target);
          result = true;
        }
      }
    }
  } catch (const std::exception&) {
    // Any error inside the run counts as a failed installation, which the
    // finish page reports; nothing else is to be done with it.
    result = false;
  }
  Host.StopAnimation();
  Host.SetProgress(100);
  return result;
}

QString TInstallRun::CopyRunFile(const QString& file, const QString& dest) {
  const QFileInfo source(file);
  if (file.isEmpty() || !source.isFile() || dest.isEmpty() || !QDir().mkpath(dest)) return {};
  const QString copy = IncludeTrailingSlash(dest) + source.fileName();
  const QFileInfo copyInfo(copy);
  // Copying a file onto itself would lose it when the copy is deleted.
  if (copyInfo.exists() && copyInfo.canonicalFilePath() == source.canonicalFilePath()) return {};
  if (copyInfo.exists() && !QFile::remove(copy)) return {};
  if (!QFile::copy(file, copy)) return {};
  // A medium may not keep the execute bit; the copy is there to be run.
  QFile(copy).setPermissions(QFile(copy).permissions() | QFile::ReadOwner | QFile::WriteOwner |
                             QFile::ExeOwner | QFile::ExeUser);
  return copy;
}

bool TInstallRun::RunInstallProgram(const QString& target) {
  if (Manager.DestDirDlg) return ExecAndWait(target, {}, kShowHidden, kRunSliceMs) >= 0;
  TStartedProcess process(target);
  if (!process.Valid()) return false;
  Host.WaitForStartedProgram(process);
  return true;
}

bool TInstallRun::DeleteRunFile(const QString& target) {
  QFile file(target);
  file.setPermissions(file.permissions() | QFile::WriteOwner | QFile::WriteUser);
  return file.remove();
}

void TInstallRun::CreateDesktopShortcuts(const QString& programDir) {
  const QString desktop = GetSpecialFolder(kFolderDesktop);
  if (desktop.isEmpty()) return;
  CreateShortcuts(desktop, programDir);
}

void TInstallRun::CreateStartMenuShortcuts(const QString& programDir) {
  const QString programs = GetSpecialFolder(kFolderPrograms);
  if (programs.isEmpty()) return;
  const QStringList group = (Manager.DefDirName + QLatin1Char('/') + Manager.ProgName)
                                .split(QLatin1Char('/'), Qt::SkipEmptyParts);
  const QString folder = programs + (group.isEmpty() ? QString() : group.join(QLatin1Char('/')));
  const QStringList entries = CreateShortcuts(folder, programDir);
  if (group.isEmpty() || entries.isEmpty()) return;
  QStringList relative;
  for (const QString& entry : entries) relative << QDir(programs).relativeFilePath(entry);
  WriteMenuGroup(group, relative);
}

QStringList TInstallRun::CreateShortcuts(const QString& folder, const QString& programDir) {
  const QString linkFolder = IncludeTrailingSlash(folder);
  QStringList files, names, icons, written;
  SplitString(files, Manager.ShortcutFileName, QStringLiteral("|"));
  SplitString(names, Manager.ShortcutDescr, QStringLiteral("|"));
  SplitString(icons, Manager.ShortcutIco, QStringLiteral("|"));
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
    if (!QDir().mkpath(DirectoryOf(linkFile))) continue;
    if (CreateShellLink(target, icon, linkFile)) written << linkFile;
  }
  return written;
}

bool TInstallRun::CreateShellLink(const QString& target, const QString& icon,
                                  const QString& linkFile) {
  return WriteDesktopEntry(target, icon, linkFile);
}

}  // namespace zinst
