#include "installer/FInstall.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>

#include "installer/DMsg.h"
#include "installer/TZMg.h"
#include "installer/ZUtils.h"
#include "installer/deploy/exit_codes.h"
#include "installer/platform/free_space.h"
#include "installer/platform/process_runner.h"
#include "installer/widgets/copy_animation.h"
#include "installer/widgets/link_label.h"

namespace zinst {

namespace {

constexpr int kPagesLeft = TFrmBase::kPanelWidth + 2;
constexpr int kPagesTop = 64;
constexpr int kPagesWidth = 352;
constexpr int kPagesHeight = 242;
constexpr int kTimerMs = 1000;

const char* const kNavy = "color: #000080;";

QLabel* Note(const QString& text, QWidget* parent, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setStyleSheet(QString::fromLatin1(kNavy));
  label->setGeometry(geometry);
  return label;
}

QLabel* Label(const QString& text, QWidget* parent, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  return label;
}

QTextEdit* Viewer(QWidget* parent, const QRect& geometry) {
  auto* viewer = new QTextEdit(parent);
  viewer->setReadOnly(true);
  viewer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewer->setGeometry(geometry);
  return viewer;
}

}  // namespace

TFrmInstall::TFrmInstall(const TZInstallManager& manager, TZDlgMsg& dlgMsg, TInstallLog* log,
                         QWidget* parent)
    : TFrmBase(manager, parent), ZDlgMsg(dlgMsg), InstallationNavigator(*this) {
  Run = std::make_unique<TInstallRun>(manager, *this, log);
  BtnFinish = new QPushButton(QStringLiteral("Koniec"), this);
  BtnFinish->setGeometry(BtnNext->geometry());
  BtnFinish->hide();
  connect(BtnNext, &QPushButton::clicked, this, [this] { InstallationNavigator.Next(); });
  connect(BtnPrev, &QPushButton::clicked, this, [this] { InstallationNavigator.Back(); });
  connect(BtnFinish, &QPushButton::clicked, this, &TFrmInstall::BtnFinishClick);
  Timer.setInterval(kTimerMs);
  connect(&Timer, &QTimer::timeout, this, &TFrmInstall::TimerTimer);
  FolderDialog = [](QWidget* parentWidget, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(parentWidget, title, start);
  };
  BuildPages();
  InstallationNavigator.Start(kPageMain);

  try {
    ProgramDir.clear();
    UpdateInfoLabels();
    Manager.LoadDocument(Manager.AboutFile, *MainText->document());
    ProcessHandle = nullptr;
    {
      const QSignalBlocker blocker(DestDirName);
      DestDirName->clear();
    }
    DestDirNameChange();
  } catch (const std::exception&) {
    // The window opens whatever went wrong while it was being filled in;
    // the remaining steps are simply left out.
  }
}

TFrmInstall::~TFrmInstall() = default;

void TFrmInstall::BuildPages() {
  InstallPages = new QStackedWidget(this);
  InstallPages->setGeometry(kPagesLeft, kPagesTop, kPagesWidth, kPagesHeight);
  const int w = kPagesWidth;

  auto* main = new QWidget;
  MainText = Viewer(main, QRect(0, 0, w, 216));
  LabImportant = new TLinkLabel(QStringLiteral("Waż&ne !"), main);
  LabImportant->setStyleSheet(QStringLiteral("color: #800000;"));
  LabAbout = new TLinkLabel(QStringLiteral("&O programie"), main);
  LabAuthors = new TLinkLabel(QStringLiteral("A&utorzy"), main);
  LabVersion = new TLinkLabel(QStringLiteral("We&rsja"), main);
  LabImportant->setGeometry(0, 222, LabImportant->sizeHint().width(), 18);
  int right = w;
  for (TLinkLabel* link : {LabVersion, LabAuthors, LabAbout}) {
    const int width = link->sizeHint().width();
    link->setGeometry(right - width, 222, width, 18);
    right -= width + 20;
  }
  connect(LabAbout, &TLinkLabel::clicked, this, &TFrmInstall::LabAboutClick);
  connect(LabAuthors, &TLinkLabel::clicked, this, &TFrmInstall::LabAuthorsClick);
  connect(LabVersion, &TLinkLabel::clicked, this, &TFrmInstall::LabVersionClick);
  connect(LabImportant, &TLinkLabel::clicked, this, &TFrmInstall::LabImportantClick);

  auto* licence = new QWidget;
  LicenceText = Viewer(licence, QRect(0, 0, w, 214));
  LicenceText->setToolTip(QStringLiteral("Aby przejść dalej należy zaakceptować warunki licencji"));
  CBAccept = new QCheckBox(QStringLiteral("Akceptuję warunki licencji"), licence);
  CBAccept->setGeometry(0, 220, w, 20);
  connect(CBAccept, &QCheckBox::clicked, this, &TFrmInstall::CBAcceptClick);

  auto* destDir = new QWidget;
  Label(QStringLiteral("Podaj nazwę katalogu docelowego:"), destDir, QRect(0, 4, w, 16));
  DestDirName = new QLineEdit(destDir);
  DestDirName->setGeometry(0, 24, w - 28, 22);
  DestDirNameButton = new QToolButton(destDir);
  DestDirNameButton->setText(QStringLiteral("..."));
  DestDirNameButton->setGeometry(w - 26, 24, 26, 22);
  Label(QStringLiteral("Wolne miejsce na dysku"), destDir, QRect(0, 56, 150, 16));
  LabCurrDrive = Label(QString(), destDir, QRect(154, 56, 120, 16));
  LabFreeSpace = Label(QString(), destDir, QRect(276, 56, w - 276, 16));
  LabFreeSpace->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QFont bold = LabFreeSpace->font();
  bold.setBold(true);
  LabFreeSpace->setFont(bold);
  Note(QStringLiteral(
           "Należy podać katalog, w którym zostanie zainstalowany program. Katlog można wybrać w "
           "oknie otwieranym po wciśnięciu przycisku znajdującego się z prawej strony pola edycji "
           "(do wybranego katalogu zostanie domyślnie dodany podkatalog programu). Po skasowaniu "
           "zawartości pola edycji pojawia się domyślna nazwa katalogu docelowego."),
       destDir, QRect(0, 86, w, 150));
  connect(DestDirName, &QLineEdit::textChanged, this, &TFrmInstall::DestDirNameChange);
  connect(DestDirNameButton, &QToolButton::clicked, this, &TFrmInstall::DestDirNameButtonClick);

  auto* shortcut = new QWidget;
  CBShrtDesktop = new QCheckBox(QStringLiteral("Utwórz skrót na pulpicie"), shortcut);
  CBShrtDesktop->setGeometry(0, 4, w, 20);
  CBShrtDesktop->setChecked(true);
  Note(QStringLiteral("Zaznaczenie tej opcji powoduje utworzenie na pulpicie ikony skrótu do "
                      "programu. Ikona ta może być później w dowolnym momencie usunięta. "),
       shortcut, QRect(20, 26, w - 20, 60));
  CBShrtStart = new QCheckBox(QStringLiteral("Utwórz grupę i skrót w Menu Start"), shortcut);
  CBShrtStart->setGeometry(0, 100, w, 20);
  CBShrtStart->setChecked(true);
  Note(QStringLiteral(
           "Jeśli ta opcja jest zaznaczona, do Menu Start dodawana jest grupa programów ORV. W tej "
           "grupie umieszczany jest skrót do instalowanego programu. Podobnie jak w przypadku "
           "skrótu na pulpicie, dodane elementy mogą być w razie potrzeby usunięte przez "
           "użytkownika."),
       shortcut, QRect(20, 122, w - 20, 110));

  auto* summary = new QWidget;
  Label(QStringLiteral("Parametry instalacji:"), summary, QRect(0, 4, w, 16));
  MemoParams = new QPlainTextEdit(summary);
  MemoParams->setReadOnly(true);
  MemoParams->setGeometry(0, 24, w, 216);

  auto* finish = new QWidget;
  Label(QStringLiteral("Stopień zaawansowania procesu instalacji:"), finish, QRect(0, 4, w, 16));
  InstallProgress = new QProgressBar(finish);
  InstallProgress->setRange(0, 100);
  InstallProgress->setValue(0);
  InstallProgress->setGeometry(0, 24, w, 20);
  Animate = new TCopyAnimation(finish);
  Animate->setGeometry(0, 50, w, 60);
  Animate->hide();
  LabInstallOK = Label(QStringLiteral("Instalacja programu została zakończona \npomyślnie."),
                       finish, QRect(0, 118, w, 40));
  LabInstallOK->hide();
  LabInstallFail = Label(QStringLiteral("UWAGA! Wystąpiły problemy podczas \ninstalacji programu "
                                        "we wskazanym \nkatalogu."),
                         finish, QRect(0, 118, w, 56));
  LabInstallFail->setStyleSheet(QStringLiteral("color: red;"));
  LabInstallFail->hide();
  CBShowProgramDir = new QCheckBox(QStringLiteral("Pokaż katalog programu"), finish);
  CBShowProgramDir->setGeometry(0, 180, w, 20);
  CBShowProgramDir->setChecked(true);
  CBShowProgramDir->hide();

  for (QWidget* page : {main, licence, destDir, shortcut, summary, finish}) {
    InstallPages->addWidget(page);
  }
}

void TFrmInstall::UpdateInfoLabels() {
  const auto present = [&](const QString& file) {
    const QString path = Manager.ExpandAppDir(file);
    return !path.isEmpty() && QFileInfo::exists(path);
  };
  LabAbout->setVisible(present(Manager.AboutFile));
  LabAuthors->setVisible(present(Manager.AuthorsFile));
  LabVersion->setVisible(present(Manager.VerFile));
  LabImportant->setVisible(present(Manager.ImportantFile));
}

void TFrmInstall::ShowDocument(const QString& file) {
  try {
    Manager.LoadDocument(file, *MainText->document());
  } catch (const EInstallError& error) {
    ZDlgMsg.ShowMsg(QString::fromUtf8(error.what()), kMsgOk);
  }
}

void TFrmInstall::LabAboutClick() { ShowDocument(Manager.AboutFile); }
void TFrmInstall::LabAuthorsClick() { ShowDocument(Manager.AuthorsFile); }
void TFrmInstall::LabVersionClick() { ShowDocument(Manager.VerFile); }
void TFrmInstall::LabImportantClick() { ShowDocument(Manager.ImportantFile); }

void TFrmInstall::CBAcceptClick() { BtnNext->setEnabled(CBAccept->isChecked()); }

void TFrmInstall::DestDirNameChange() {
  if (DestDirName->text().isEmpty()) {
    const QSignalBlocker blocker(DestDirName);
    DestDirName->setText(
        DefaultDestination(Manager.ProgDirName, Manager.DefDirName, Manager.ProgName));
  }
  BtnNext->setEnabled(ShowFreeSpace(DestDirName->text()) > 0);
}

int64_t TFrmInstall::ShowFreeSpace(const QString& path) {
  int64_t megabytes = 0;
  try {
    const QString drive = MountPointOf(path);
    LabCurrDrive->setText(drive);
    if (!drive.isEmpty()) megabytes = FreeMegabytes(FreeBytesForUser(drive));
    LabFreeSpace->setText(QString::number(megabytes) + QStringLiteral(" MB"));
  } catch (const std::exception&) {
    ZDlgMsg.ShowMsg(QStringLiteral("Problemy z dostępem do wskazanego dysku."), kMsgOk);
  }
  return megabytes;
}

void TFrmInstall::DestDirNameButtonClick() {
  const QString picked =
      FolderDialog(this, QStringLiteral("Wybór katalogu docelowego"), DestDirName->text());
  if (!picked.isEmpty()) DestDirName->setText(DestDirNameAfterDialog(picked));
}

QString TFrmInstall::DestDirNameAfterDialog(const QString& picked) const {
  return DestDirAfterDialog(picked, Manager.ProgName);
}

int TFrmInstall::GetNextPage(int current) {
  return NextPage(current, Manager.DestDirDlg, Manager.ShortcutDlg);
}

int TFrmInstall::GetPriorPage(int current) {
  return PriorPage(current, Manager.DestDirDlg, Manager.ShortcutDlg);
}

void TFrmInstall::PageLeave(int page) {
  if (page == kPageSummary) BtnNext->setText(QStringLiteral("&Dalej >>"));
}

void TFrmInstall::PageEnter(int page) {
  switch (page) {
    case kPageLicence:
      try {
        Manager.LoadDocument(Manager.LicenceFile, *LicenceText->document());
      } catch (const EInstallError& error) {
        ZDlgMsg.ShowMsg(QString::fromUtf8(error.what()), kMsgOk);
      }
      break;
    case kPageSummary:
      BtnNext->setText(QStringLiteral("Instaluj"));
      break;
    case kPageFinish:
      BtnPrev->hide();
      BtnNext->hide();
      BtnCancel->hide();
      BtnFinish->show();
      BtnFinish->setEnabled(false);
      break;
    default:
      break;
  }
}

void TFrmInstall::PageShown(int page) { InstallPages->setCurrentIndex(page); }

void TFrmInstall::SetButtons(bool backEnabled, bool nextEnabled) {
  BtnPrev->setEnabled(backEnabled);
  BtnNext->setEnabled(nextEnabled);
}

void TFrmInstall::PageShow(int page) {
  switch (page) {
    case kPageLicence:
      BtnNext->setEnabled(false);
      CBAccept->setChecked(false);
      break;
    case kPageSummary: {
      TSummaryChoices choices;
      choices.ProgName = Manager.ProgName;
      choices.DestDirDlg = Manager.DestDirDlg;
      choices.Destination = DestDirName->text();
      choices.DestinationExists = QFileInfo(DestDirName->text()).isDir();
      choices.ShortcutDlg = Manager.ShortcutDlg;
      choices.DesktopShortcut = CBShrtDesktop->isChecked();
      choices.StartMenuGroup = CBShrtStart->isChecked();
      MemoParams->setPlainText(SummaryLines(choices).join(QLatin1Char('\n')));
      break;
    }
    case kPageFinish: {
      const bool ok = PerformInstall(IncludeTrailingSlash(DestDirName->text()));
      LabInstallOK->setVisible(ok);
      LabInstallFail->setVisible(!ok);
      CBShowProgramDir->setVisible(!ProgramDir.isEmpty());
      BtnFinish->setEnabled(true);
      break;
    }
    default:
      break;
  }
}

bool TFrmInstall::PerformInstall(const QString& dest) {
  const bool result =
      Run->PerformInstall(dest, CBShrtDesktop->isChecked(), CBShrtStart->isChecked());
  ProgramDir = Run->ProgramDir;
  Installed = result;
  return result;
}

int TFrmInstall::ExitCode() const {
  if (!Installed) return kExitCancelled;
  return *Installed ? kExitInstalled : kExitRunFailed;
}

void TFrmInstall::BtnFinishClick() {
  close();
  if (!ProgramDir.isEmpty() && CBShowProgramDir->isChecked()) {
    ShellOpen(ProgramDir, QString(), QString(), kShowNormal);
  }
}

void TFrmInstall::TimerTimer() {
  if (ProcessHandle != nullptr && ZDlgMsg.isVisible() && !ProcessHandle->StillActive()) {
    ZDlgMsg.BtnOK->setEnabled(true);
  }
}

void TFrmInstall::SetProgress(int percent) { InstallProgress->setValue(percent); }

void TFrmInstall::ProcessMessages() { QCoreApplication::processEvents(); }

void TFrmInstall::StartAnimation() {
  Animate->show();
  Animate->Start();
}

void TFrmInstall::StopAnimation() {
  Animate->Stop();
  Animate->hide();
}

void TFrmInstall::WaitForStartedProgram(TStartedProcess& process) {
  ProcessHandle = &process;
  Timer.start();
  ZDlgMsg.BtnOK->setEnabled(false);
  ZDlgMsg.ShowMsg(QStringLiteral("Został uruchomiony zewnętrzny program.\r\n\r\nWciśnij OK po "
                                 "zakończeniu jego działania."),
                  kMsgOk);
  ZDlgMsg.BtnOK->setEnabled(true);
  Timer.stop();
  ProcessHandle = nullptr;
}

}  // namespace zinst
