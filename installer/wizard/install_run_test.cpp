#include "installer/wizard/install_run.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTest>

#include "installer/ZUtils.h"
#include "installer/deploy/exit_codes.h"
#include "installer/platform/desktop_entries.h"
#include "installer/platform/shell_open.h"
#include "installer/test_support/wizard_fixture.h"

using namespace zinst;
using zinst::test::ReadAll;
using zinst::test::TWizardFixture;

namespace {

// Records what the run asks of the window.
class TRecordingHost final : public TInstallHost {
 public:
  void SetProgress(int percent) override { Progress << percent; }
  void ProcessMessages() override { QCoreApplication::processEvents(); }
  void StartAnimation() override { Events << "start"; }
  void StopAnimation() override { Events << "stop"; }
  void WaitForStartedProgram(TStartedProcess&) override { Events << "wait"; }
  QList<int> Progress;
  QStringList Events;
};

// Runs the wizard from Main through Finish.
void RunWizard(TWizardFixture& w) {
  while (w.Page() != kPageFinish) {
    const int before = w.Page();
    w.Forward();
    if (w.Page() == before) QFAIL("the wizard does not go on");
  }
}

QString EntryText(const QString& name, const QString& target, const QString& icon) {
  QString text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=\"" + target +
                 "\"\nPath=" + QFileInfo(target).absolutePath() + "\n";
  if (!icon.isEmpty()) text += "Icon=" + icon + "\n";
  return text;
}

}  // namespace

class TInstallRunTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    SetDesktopOpener([](const QString&) {});
  }
  void cleanup() {
    SetDesktopOpener({});
    qunsetenv("FAKE_SETUP_MODE");
  }

  void Outcomes_data();
  void Outcomes();
  void RunInPlaceWaitsUntilTheProgramHasEnded();
  void ClosingTheNoticeLetsTheRunGoOn();
  void ShortcutFiles_data();
  void ShortcutFiles();
  void UnresolvedShortcutFoldersAreSkipped();
  void RunStepsWithoutWidgets();
  void WizardClosedBeforeTheRunGivesCancelled();
  void WizardWritesTheLogAskedFor();
};

void TInstallRunTest::Outcomes_data() {
  QTest::addColumn<QString>("mode");
  QTest::addColumn<QString>("runFile");      // the script's run_file
  QTest::addColumn<QString>("destination");  // below the home; "" for the default
  QTest::addColumn<bool>("ok");
  QTest::addColumn<bool>("ran");
  const QString longPath = QStringList(26, "twenty-characters-xx").join('/');
  QTest::newRow("exit 0") << "exit 0"
                          << "<APPDIR>setup"
                          << "" << true << true;
  QTest::newRow("exit 3 counts as success") << "exit 3"
                                            << "<APPDIR>setup"
                                            << "" << true << true;
  QTest::newRow("ended by a signal") << "crash"
                                     << "<APPDIR>setup"
                                     << "" << false << true;
  QTest::newRow("run file missing") << "exit 0"
                                    << "<APPDIR>nothing"
                                    << "" << false << false;
  QTest::newRow("not a program") << "exit 0"
                                 << "<APPDIR>notes.txt"
                                 << "" << false << false;
  QTest::newRow("command line too long") << "exit 0"
                                         << "<APPDIR>setup" << longPath << false << false;
  QTest::newRow("destination cannot be made") << "exit 0"
                                              << "<APPDIR>setup"
                                              << "about.txt-is-a-file/x" << false << false;
}

void TInstallRunTest::Outcomes() {
  QFETCH(QString, mode);
  QFETCH(QString, runFile);
  QFETCH(QString, destination);
  QFETCH(bool, ok);
  QFETCH(bool, ran);
  TWizardFixture w;
  w.Home.WriteFile("about.txt-is-a-file", "");
  w.Home.WriteFile("medium/notes.txt", "no program here\n");
  qputenv("FAKE_SETUP_MODE", mode.toUtf8());
  w.Open({{"run_file", runFile}});
  const QString dest = destination.isEmpty() ? w.Destination() : w.Home.Path(destination);
  w.Form->DestDirName->setText(dest);
  RunWizard(w);
  QCOMPARE(w.Form->LabInstallOK->isVisible(), ok);
  QCOMPARE(w.Form->LabInstallFail->isVisible(), !ok);
  QCOMPARE(w.Form->CBShowProgramDir->isVisible(), ok);
  QCOMPARE(w.Form->ProgramDir.isEmpty(), !ok);
  QCOMPARE(w.Form->ExitCode(), int(ok ? kExitInstalled : kExitRunFailed));
  QCOMPARE(w.Form->InstallProgress->value(), 100);
  QVERIFY(!w.Form->Animate->Active());
  QVERIFY(w.Form->BtnFinish->isEnabled());
  QCOMPARE(QFile::exists(dest + "/ran.txt"), ran);
  QCOMPARE(QFile::exists(w.Home.Desktop() + "/Edytor.desktop"), ok);
  if (ok) QVERIFY(!QFile::exists(dest + "/setup"));
}

void TInstallRunTest::RunInPlaceWaitsUntilTheProgramHasEnded() {
  TWizardFixture w;
  qputenv("FAKE_SETUP_MODE", "wait");
  bool okEnabledWhileRunning = true;
  bool doneWhenOkEnabled = false;
  zinst::test::TOkPresser presser(w.Dialog, [&](TZDlgMsg& d) {
    okEnabledWhileRunning = d.BtnOK->isEnabled();
    QCOMPARE(d.Kind, kMsgOk);
    w.Home.WriteFile("medium/go", "");  // now the program may end
  });
  QObject::connect(w.Dialog.BtnOK, &QPushButton::clicked,
                   [&] { doneWhenOkEnabled = QFile::exists(w.Home.Medium() + "done.txt"); });
  w.Open({{"dest_dir_dlg", "0"}});
  RunWizard(w);
  QCOMPARE(presser.Shown, 1);
  QCOMPARE(presser.LastText, QStringLiteral("Został uruchomiony zewnętrzny program.\r\n\r\n"
                                            "Wciśnij OK po zakończeniu jego działania."));
  QVERIFY(!okEnabledWhileRunning);
  QVERIFY(presser.OkWasDisabled);
  QVERIFY(doneWhenOkEnabled);
  QVERIFY(w.Dialog.BtnOK->isEnabled());
  QVERIFY(!w.Form->Timer.isActive());
  QVERIFY(w.Form->LabInstallOK->isVisible());
  QVERIFY(!w.Form->CBShowProgramDir->isVisible());
  QVERIFY(!QDir(w.Home.Desktop()).exists());
}

void TInstallRunTest::ClosingTheNoticeLetsTheRunGoOn() {
  TWizardFixture w;
  qputenv("FAKE_SETUP_MODE", "wait");
  w.Dialog.SetShownHandler([](TZDlgMsg& d) { d.close(); });
  w.Open({{"dest_dir_dlg", "0"}});
  RunWizard(w);
  QVERIFY(w.Form->LabInstallOK->isVisible());
  QVERIFY(!QFile::exists(w.Home.Medium() + "done.txt"));  // still waiting for "go"
  // Let the program end before its directory goes.
  w.Home.WriteFile("medium/go", "");
  QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(w.Home.Medium() + "done.txt"), 30000);
}

void TInstallRunTest::ShortcutFiles_data() {
  QTest::addColumn<bool>("desktop");
  QTest::addColumn<bool>("start");
  QTest::newRow("desktop and menu") << true << true;
  QTest::newRow("desktop only") << true << false;
  QTest::newRow("menu only") << false << true;
}

void TInstallRunTest::ShortcutFiles() {
  QFETCH(bool, desktop);
  QFETCH(bool, start);
  TWizardFixture w;
  w.Open({{"shortcut_file_name", "a.exe|bin\\b.exe"},
          {"shortcut_descr", "Program A"},
          {"shortcut_ico", "a.png"}});
  w.Next();
  w.Forward();
  w.Next();
  QCOMPARE(w.Page(), int(kPageShortcut));
  w.Form->CBShrtDesktop->setChecked(desktop);
  w.Form->CBShrtStart->setChecked(start);
  RunWizard(w);
  QVERIFY(w.Form->LabInstallOK->isVisible());

  const QString dest = w.Destination();
  const QString a = EntryText("Program A", dest + "/a.exe", dest + "/a.png");
  const QString b = EntryText("Edytor", dest + "/bin/b.exe", "");
  const QString menu = w.Home.Applications() + "/Firma/Edytor/";
  QCOMPARE(QString::fromUtf8(ReadAll(w.Home.Desktop() + "/Program A.desktop")), desktop ? a : "");
  QCOMPARE(QString::fromUtf8(ReadAll(w.Home.Desktop() + "/Edytor.desktop")), desktop ? b : "");
  QCOMPARE(QString::fromUtf8(ReadAll(menu + "Program A.desktop")), start ? a : "");
  QCOMPARE(QString::fromUtf8(ReadAll(menu + "Edytor.desktop")), start ? b : "");
  if (desktop) {
    QVERIFY(QFileInfo(w.Home.Desktop() + "/Program A.desktop").permissions() & QFile::ExeOwner);
  }

  const QString directories = w.Home.Path(".local/share/desktop-directories/");
  const QString merged = w.Home.Path(".config/menus/applications-merged/zinst-Firma-Edytor.menu");
  QCOMPARE(QString::fromUtf8(ReadAll(directories + "zinst-Firma.directory")),
           start ? "[Desktop Entry]\nType=Directory\nName=Firma\n" : "");
  QCOMPARE(QString::fromUtf8(ReadAll(directories + "zinst-Firma-Edytor.directory")),
           start ? "[Desktop Entry]\nType=Directory\nName=Edytor\n" : "");
  QCOMPARE(QString::fromUtf8(ReadAll(merged)),
           !start ? QString()
                  : QString::fromLatin1(kMenuDoctype) +
                        "<Menu>\n"
                        "  <Name>Applications</Name>\n"
                        "  <Menu>\n"
                        "    <Name>Firma</Name>\n"
                        "    <Directory>zinst-Firma.directory</Directory>\n"
                        "    <Menu>\n"
                        "      <Name>Edytor</Name>\n"
                        "      <Directory>zinst-Firma-Edytor.directory</Directory>\n"
                        "      <Include>\n"
                        "        <Filename>Firma-Edytor-Program A.desktop</Filename>\n"
                        "        <Filename>Firma-Edytor-Edytor.desktop</Filename>\n"
                        "      </Include>\n"
                        "    </Menu>\n"
                        "  </Menu>\n"
                        "</Menu>\n");
}

void TInstallRunTest::UnresolvedShortcutFoldersAreSkipped() {
  zinst::test::TTestHome home;
  home.WriteScript({{"prog_name", "ZinstSkipTest"},
                    {"def_dir_name", "ZinstSkipGroup"},
                    {"shortcut_file_name", "a.exe"}});
  TZInstallManager manager(home.Medium());
  for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"}) {
    qunsetenv(name);
  }
  QCOMPARE(GetSpecialFolder(kFolderDesktop), QString());
  QCOMPARE(GetSpecialFolder(kFolderPrograms), QString());
  TRecordingHost host;
  TInstallRun run(manager, host);
  run.CreateDesktopShortcuts(home.Path("dest"));
  run.CreateStartMenuShortcuts(home.Path("dest"));
  QVERIFY(!QFile::exists("/ZinstSkipTest.desktop"));
  QVERIFY(!QFile::exists("/ZinstSkipGroup"));
  QVERIFY(!QFile::exists("/applications"));
}

void TInstallRunTest::RunStepsWithoutWidgets() {
  zinst::test::TTestHome home;
  home.WriteScript({{"prog_name", "Edytor"}, {"run_file", "<APPDIR>setup"}});
  zinst::test::InstallFakeSetup(home);
  TZInstallManager manager(home.Medium());
  TRecordingHost host;
  TInstallRun run(manager, host);
  QVERIFY(run.PerformInstall(home.Path("dest/"), false, false));
  QCOMPARE(host.Progress, (QList<int>{0, 40, 45, 95, 100}));
  QCOMPARE(host.Events, (QStringList{"start", "stop"}));
  QCOMPARE(run.ProgramDir, home.Path("dest"));
  QCOMPARE(QDir::currentPath(), home.Path("dest"));

  // The destination is where the run file lies: copying it onto itself and
  // deleting "the copy" would lose the original.
  QVERIFY(!run.PerformInstall(home.Medium(), false, false));
  QVERIFY(QFile::exists(home.Medium() + "setup"));
  QCOMPARE(run.CopyRunFile(home.Medium() + "setup", home.Medium()), QString());
}

void TInstallRunTest::WizardClosedBeforeTheRunGivesCancelled() {
  TWizardFixture w;
  w.Open();
  w.Next();
  QCOMPARE(w.Page(), int(kPageLicence));
  QCOMPARE(w.Form->ExitCode(), int(kExitCancelled));
  w.Form->BtnCancel->click();
  QVERIFY(!w.Form->isVisible());
  QCOMPARE(w.Form->ExitCode(), int(kExitCancelled));
  QVERIFY(!QFile::exists(w.Home.Medium() + "ran.txt"));
}

void TInstallRunTest::WizardWritesTheLogAskedFor() {
  TWizardFixture w;
  TInstallLog log;
  QVERIFY(log.Open(w.Home.Path("wizard.log")));
  w.Log = &log;
  w.Open({{"shortcut_file_name", "-"}});
  RunWizard(w);
  QCOMPARE(w.Form->ExitCode(), int(kExitInstalled));
  QStringList lines;
  for (const QByteArray& line : ReadAll(w.Home.Path("wizard.log")).split('\n')) {
    if (!line.isEmpty()) lines << QString::fromUtf8(line.mid(21));  // after the time stamp
  }
  const QString dest = w.Destination();
  QCOMPARE(lines.size(), 8);
  QVERIFY(lines[0].startsWith("Katalog docelowy: " + dest + "/, wolne miejsce: "));
  QCOMPARE(lines.mid(1),
           (QStringList{
               "Skopiowano: " + w.Home.Medium() + "setup -> " + dest + "/setup",
               "Uruchamianie: " + dest + "/setup",
               "Kod wyjścia: 0 (powodzenie)",
               "Usunięto kopię: " + dest + "/setup",
               "Skróty w " + w.Home.Desktop() + "/ pominięte: shortcut_file_name jest pusty",
               "Skróty w " + w.Home.Applications() +
                   "/Firma/Edytor/ pominięte: shortcut_file_name jest pusty",
               "Wynik: instalacja zakończona pomyślnie",
           }));
}

QTEST_MAIN(TInstallRunTest)
#include "install_run_test.moc"
