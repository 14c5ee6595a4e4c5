#pragma once

#include <QString>
#include <QStringList>

namespace zinst {

class TInstallLog;
class TStartedProcess;
class TZInstallManager;

// What the install run needs of the wizard window.
class TInstallHost {
 public:
  virtual ~TInstallHost() = default;
  virtual void SetProgress(int percent) = 0;
  virtual void ProcessMessages() = 0;
  virtual void StartAnimation() = 0;
  virtual void StopAnimation() = 0;
  // Run-in-place mode: wait until the started program has ended (the wizard:
  // until the user says so in the message dialog).
  virtual void WaitForStartedProgram(TStartedProcess& process) = 0;
};

// The install run, on the user-interface thread:
//  1. pending messages are handled, ProgramDir emptied;
//  2. progress 0; the file is run_file expanded;
//  3. copy-and-run mode (dest_dir_dlg): the animation runs and the file is
//     copied into the destination, the copy being the target;
//  4. a target that does not exist fails the run;
//  5. progress 40, the current directory becomes the target's, progress 45;
//  6. the target is run (see RunInstallProgram); failure fails the run;
//  7. progress 95; in copy-and-run mode the copy is deleted, failure fails the run;
//  8. shortcuts are made when chosen (their failures are silent);
//  9. in copy-and-run mode ProgramDir becomes the target's directory;
// and always at the end the animation stops and the progress is 100.
// Every step, and why a step failed or was skipped, goes to the install log
// when one is given and open.
class TInstallRun final {
 public:
  TInstallRun(const TZInstallManager& manager, TInstallHost& host, TInstallLog* log = nullptr)
      : Manager(manager), Host(host), Log(log) {}

  // dest ends in '/'. desktop and startMenu are the shortcut page's choices.
  bool PerformInstall(const QString& dest, bool desktop, bool startMenu);

  // The copy of file in dest, or "" when file is missing, dest cannot be
  // made, the copy fails or would overwrite file itself.
  QString CopyRunFile(const QString& file, const QString& dest);
  // Copy-and-run mode: runs target without a shell, waited for in slices of
  // 1000 ms; success for an exit code of 0 or more. Run-in-place: starts
  // target and waits in the message dialog; success whatever its exit code.
  bool RunInstallProgram(const QString& target);
  // Makes target writable by its owner, then deletes it.
  bool DeleteRunFile(const QString& target);

  // Shortcut folders that cannot be resolved are skipped.
  void CreateDesktopShortcuts(const QString& programDir);
  // Entries under applications/<def_dir_name>/<prog_name>/ and the menu group for them.
  void CreateStartMenuShortcuts(const QString& programDir);
  // One entry per item of shortcut_file_name, named by the item of
  // shortcut_descr at the same place (else prog_name), with the icon of
  // shortcut_ico at the same place (else none). Returns the entries written.
  QStringList CreateShortcuts(const QString& folder, const QString& programDir);
  bool CreateShellLink(const QString& target, const QString& icon, const QString& linkFile);

  QString ProgramDir;

 private:
  // Steps 2 to 9; false at the first failing step.
  bool RunSteps(const QString& dest, bool desktop, bool startMenu);
  void CreateChosenShortcuts(const QString& programDir, bool desktop, bool startMenu);
  void NoteDestination(const QString& dest);
  void Note(const QString& text);

  const TZInstallManager& Manager;
  TInstallHost& Host;
  TInstallLog* Log;
};

}  // namespace zinst
