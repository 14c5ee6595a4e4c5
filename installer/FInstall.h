#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "installer/FBase.h"
#include "installer/wizard/install_run.h"
#include "installer/wizard/page_rules.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;
class QTextEdit;
class QToolButton;

namespace zinst {

class TCopyAnimation;
class TZDlgMsg;

// The installation wizard: six pages (Main, Licence, DestDir, Shortcut,
// Summary, Finish) over the frame, with the page rules of page_rules.h and
// the install run of install_run.h. The widgets only show what those decide.
class TFrmInstall final : public TFrmBase, public TNavigatorHost, public TInstallHost {
  Q_OBJECT

 public:
  using TFolderDialog =
      std::function<QString(QWidget* parent, const QString& title, const QString& start)>;

  // log, when given, receives the install run's steps (--log).
  TFrmInstall(const TZInstallManager& manager, TZDlgMsg& dlgMsg, TInstallLog* log = nullptr,
              QWidget* parent = nullptr);
  ~TFrmInstall() override;

  // Replaces the system's folder-selection dialog (for tests).
  void SetFolderDialog(TFolderDialog dialog) { FolderDialog = std::move(dialog); }
  TInstallationNavigator& Navigator() { return InstallationNavigator; }

  void LabAboutClick();
  void LabAuthorsClick();
  void LabVersionClick();
  void LabImportantClick();
  void CBAcceptClick();
  void DestDirNameChange();
  void DestDirNameButtonClick();
  QString DestDirNameAfterDialog(const QString& picked) const;
  void BtnFinishClick();
  void TimerTimer();

  void UpdateInfoLabels();
  int64_t ShowFreeSpace(const QString& path);
  bool PerformInstall(const QString& dest);

  // The process exit code (exit_codes.h): kExitCancelled until the install run
  // has been made, then kExitInstalled or kExitRunFailed.
  int ExitCode() const;

  QString ProgramDir;
  TStartedProcess* ProcessHandle = nullptr;
  QTimer Timer;

  QPushButton* BtnFinish;
  QStackedWidget* InstallPages;
  QTextEdit* MainText;
  TLinkLabel* LabImportant;
  TLinkLabel* LabAbout;
  TLinkLabel* LabAuthors;
  TLinkLabel* LabVersion;
  QTextEdit* LicenceText;
  QCheckBox* CBAccept;
  QLineEdit* DestDirName;
  QToolButton* DestDirNameButton;
  QLabel* LabCurrDrive;
  QLabel* LabFreeSpace;
  QCheckBox* CBShrtDesktop;
  QCheckBox* CBShrtStart;
  QPlainTextEdit* MemoParams;
  QProgressBar* InstallProgress;
  TCopyAnimation* Animate;
  QLabel* LabInstallOK;
  QLabel* LabInstallFail;
  QCheckBox* CBShowProgramDir;

 private:
  // TNavigatorHost
  int GetNextPage(int current) override;
  int GetPriorPage(int current) override;
  void PageLeave(int page) override;
  void PageEnter(int page) override;
  void PageShown(int page) override;
  void SetButtons(bool backEnabled, bool nextEnabled) override;
  void PageShow(int page) override;
  // TInstallHost
  void SetProgress(int percent) override;
  void ProcessMessages() override;
  void StartAnimation() override;
  void StopAnimation() override;
  void WaitForStartedProgram(TStartedProcess& process) override;

  void BuildPages();
  void ShowDocument(const QString& file);

  TZDlgMsg& ZDlgMsg;
  TInstallationNavigator InstallationNavigator;
  std::unique_ptr<TInstallRun> Run;
  TFolderDialog FolderDialog;
  std::optional<bool> Installed;  // the install run's result, once made
};

}  // namespace zinst
