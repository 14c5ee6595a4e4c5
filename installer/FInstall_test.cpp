#include "installer/FInstall.h"

#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include "installer/ZUtils.h"
#include "installer/platform/free_space.h"
#include "installer/platform/shell_open.h"
#include "installer/test_support/wizard_fixture.h"
#include "installer/widgets/copy_animation.h"
#include "installer/widgets/link_label.h"

using namespace zinst;
using zinst::test::TWizardFixture;

class TWizardTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    Opened.clear();
    SetDesktopOpener([this](const QString& target) { Opened << target; });
  }
  void cleanup() { SetDesktopOpener({}); }

  void WalkEveryPage_data();
  void WalkEveryPage();
  void LicenceMustBeAcceptedEveryTime();
  void DestinationRules();
  void FolderDialogAddsTheProgramDirectory_data();
  void FolderDialogAddsTheProgramDirectory();
  void WithoutScriptEverythingIsEmpty();
  void FrameAndMainPage();
  void PageRules_data();
  void PageRules();
  void SummaryLines_data();
  void SummaryLines();

 private:
  QStringList Opened;
};

void TWizardTest::WalkEveryPage_data() {
  QTest::addColumn<QString>("destDirDlg");
  QTest::addColumn<QString>("shortcutDlg");
  QTest::addColumn<QList<int>>("pages");  // from Main to Summary
  QTest::newRow("both pages") << "1"
                              << "1" << QList<int>{0, 1, 2, 3, 4};
  QTest::newRow("no shortcut page") << "1"
                                    << "0" << QList<int>{0, 1, 2, 4};
  QTest::newRow("run in place, shortcuts forced off") << "0"
                                                      << "1" << QList<int>{0, 1, 4};
  QTest::newRow("run in place") << "0"
                                << "0" << QList<int>{0, 1, 4};
}

void TWizardTest::WalkEveryPage() {
  QFETCH(QString, destDirDlg);
  QFETCH(QString, shortcutDlg);
  QFETCH(QList<int>, pages);
  const bool dest = destDirDlg == "1";
  const bool shortcuts = dest && shortcutDlg == "1";
  TWizardFixture w;
  zinst::test::TOkPresser presser(w.Dialog);
  w.Open({{"dest_dir_dlg", destDirDlg}, {"shortcut_dlg", shortcutDlg}});

  // Forward to the summary, back to Main, forward again: the same pages.
  QList<int> forward{w.Page()};
  QVERIFY(!w.Form->BtnPrev->isEnabled());
  while (w.Page() != kPageSummary) {
    w.Forward();
    forward << w.Page();
  }
  QCOMPARE(forward, pages);
  QCOMPARE(w.Form->BtnNext->text(), QStringLiteral("Instaluj"));
  QStringList expected{"+ Instalacja programu:", "  - EDYTOR"};
  if (dest)
    expected << "+ Katalog docelowy:"
             << "  - " + UpperAZ(w.Destination());
  if (shortcuts) {
    expected << "+ Skróty:"
             << "  - Tworzony skrót na pulpicie"
             << "  - Tworzona grupa w Menu Start";
  }
  QCOMPARE(w.Form->MemoParams->toPlainText().split('\n'), expected);

  QList<int> backward{w.Page()};
  while (w.Form->BtnPrev->isEnabled()) {
    w.Back();
    backward << w.Page();
    QCOMPARE(w.Form->BtnNext->text(), QStringLiteral("&Dalej >>"));
  }
  std::reverse(pages.begin(), pages.end());
  QCOMPARE(backward, pages);
  while (w.Page() != kPageSummary) w.Forward();

  w.Next();
  QCOMPARE(w.Page(), int(kPageFinish));
  QVERIFY(w.Form->LabInstallOK->isVisible());
  QVERIFY(!w.Form->LabInstallFail->isVisible());
  QCOMPARE(w.Form->InstallProgress->value(), 100);
  QVERIFY(!w.Form->Animate->isVisible() && !w.Form->Animate->Active());
  QVERIFY(w.Form->BtnFinish->isVisible() && w.Form->BtnFinish->isEnabled());
  QVERIFY(!w.Form->BtnNext->isVisible() && !w.Form->BtnPrev->isVisible() &&
          !w.Form->BtnCancel->isVisible());
  QCOMPARE(w.Form->CBShowProgramDir->isVisible(), dest);
  const QString ranIn = dest ? w.Destination() : w.Home.Medium();
  QVERIFY(QFile::exists(ranIn + "/ran.txt"));
  QVERIFY(QFile::exists(w.Home.Medium() + "setup"));    // the original stays
  QVERIFY(!QFile::exists(w.Destination() + "/setup"));  // the copy is gone
  QCOMPARE(presser.Shown, dest ? 0 : 1);
  QCOMPARE(QFile::exists(w.Home.Desktop() + "/Edytor.desktop"), shortcuts);
  QCOMPARE(QFile::exists(w.Home.Applications() + "/Firma/Edytor/Edytor.desktop"), shortcuts);

  w.Form->BtnFinish->click();
  QVERIFY(!w.Form->isVisible());
  QCOMPARE(Opened, dest ? QStringList{w.Destination()} : QStringList{});
}

void TWizardTest::LicenceMustBeAcceptedEveryTime() {
  TWizardFixture w;
  w.Open();
  w.Next();
  QCOMPARE(w.Page(), int(kPageLicence));
  QVERIFY(w.Form->LicenceText->toPlainText().startsWith("Licencja programu"));
  QCOMPARE(w.Form->LicenceText->toolTip(),
           QStringLiteral("Aby przejść dalej należy zaakceptować warunki licencji"));
  QVERIFY(!w.Form->BtnNext->isEnabled());
  w.Form->CBAccept->click();
  QVERIFY(w.Form->BtnNext->isEnabled());
  w.Form->CBAccept->click();
  QVERIFY(!w.Form->BtnNext->isEnabled());
  w.Form->CBAccept->click();
  w.Next();
  QCOMPARE(w.Page(), int(kPageDestDir));
  w.Back();
  QCOMPARE(w.Page(), int(kPageLicence));
  QVERIFY(!w.Form->CBAccept->isChecked());
  QVERIFY(!w.Form->BtnNext->isEnabled());
  w.Back();
  w.Next();
  QVERIFY(!w.Form->CBAccept->isChecked());
  QVERIFY(!w.Form->BtnNext->isEnabled());
}

void TWizardTest::DestinationRules() {
  TWizardFixture w;
  w.Open();
  // The default is in place, and checked for space, already on the Main page.
  QCOMPARE(w.Form->DestDirName->text(), w.Destination());
  QVERIFY(w.Form->BtnNext->isEnabled());
  w.Forward();
  w.Forward();
  QCOMPARE(w.Page(), int(kPageDestDir));

  QLineEdit* field = w.Form->DestDirName;
  field->clear();
  QCOMPARE(field->text(), w.Destination());
  QCOMPARE(w.Form->LabCurrDrive->text(), MountPointOf(w.Home.Path()));
  QVERIFY(!w.Form->LabCurrDrive->text().isEmpty());
  const QRegularExpressionMatch space =
      QRegularExpression("^(\\d+) MB$").match(w.Form->LabFreeSpace->text());
  QVERIFY(space.hasMatch());
  QVERIFY(space.captured(1).toLongLong() > 0);
  QVERIFY(w.Form->BtnNext->isEnabled());

  // A relative path names no drive: 0 MB and no way on.
  QTest::keyClicks(field, "x");
  field->setText("relative/dir");
  QCOMPARE(w.Form->LabCurrDrive->text(), QString());
  QCOMPARE(w.Form->LabFreeSpace->text(), QStringLiteral("0 MB"));
  QVERIFY(!w.Form->BtnNext->isEnabled());

  // A directory yet to be made is measured on the nearest existing one.
  field->setText(w.Home.Path("not/yet/there"));
  QCOMPARE(w.Form->LabCurrDrive->text(), MountPointOf(w.Home.Path()));
  QVERIFY(w.Form->BtnNext->isEnabled());

  // An existing destination warns in the summary and does not stop the run.
  QDir().mkpath(w.Home.Path("exists"));
  field->setText(w.Home.Path("exists"));
  w.Next();
  w.Next();
  QCOMPARE(w.Page(), int(kPageSummary));
  QVERIFY(w.Form->MemoParams->toPlainText().contains(
      "\n  - UWAGA! Katalog o podanej nazwie już istnieje.\n+ Skróty:"));
  w.Next();
  QVERIFY(w.Form->LabInstallOK->isVisible());
  QVERIFY(QFile::exists(w.Home.Path("exists/ran.txt")));
}

void TWizardTest::FolderDialogAddsTheProgramDirectory_data() {
  QTest::addColumn<QString>("picked");  // below the home
  QTest::addColumn<QString>("field");
  QTest::newRow("program name added") << "Apps"
                                      << "Apps/Edytor";
  QTest::newRow("trailing slash kept once") << "Apps/"
                                            << "Apps/Edytor";
  QTest::newRow("name already in the path") << "Edytor2"
                                            << "Edytor2";
  QTest::newRow("the test is case-sensitive") << "edytor"
                                              << "edytor/Edytor";
}

void TWizardTest::FolderDialogAddsTheProgramDirectory() {
  QFETCH(QString, picked);
  QFETCH(QString, field);
  TWizardFixture w;
  w.Open();
  QString title, start;
  w.Form->SetFolderDialog([&](QWidget*, const QString& t, const QString& s) {
    title = t;
    start = s;
    return w.Home.Path(picked);
  });
  w.Form->DestDirNameButton->click();
  QCOMPARE(title, QStringLiteral("Wybór katalogu docelowego"));
  QCOMPARE(start, w.Destination());
  QCOMPARE(w.Form->DestDirName->text(), w.Home.Path(field));

  // A cancelled dialog changes nothing.
  w.Form->SetFolderDialog([](QWidget*, const QString&, const QString&) { return QString(); });
  w.Form->DestDirNameButton->click();
  QCOMPARE(w.Form->DestDirName->text(), w.Home.Path(field));
}

void TWizardTest::WithoutScriptEverythingIsEmpty() {
  TWizardFixture w;
  w.OpenWizard();
  QVERIFY(QFile::exists(w.Home.Medium() + "config.ini"));
  QCOMPARE(w.Form->windowTitle(), QStringLiteral("   Instalacja programu "));
  QCOMPARE(w.Form->LabelTitle->text(), QString());
  QCOMPARE(w.Form->DestDirName->text(), QString());
  QCOMPARE(w.Form->LabCurrDrive->text(), QString());
  QCOMPARE(w.Form->LabFreeSpace->text(), QStringLiteral("0 MB"));
  QVERIFY(!w.Form->BtnNext->isEnabled());
  for (TLinkLabel* link :
       {w.Form->LabAbout, w.Form->LabAuthors, w.Form->LabVersion, w.Form->LabImportant}) {
    QVERIFY(!link->isVisible());
  }
}

void TWizardTest::FrameAndMainPage() {
  TWizardFixture w;
  QDir().mkpath(w.Home.Medium() + "wersja.txt");  // exists, but cannot be read
  w.Open({{"ver_file", "<APPDIR>wersja.txt"}, {"important_file", "<APPDIR>missing.txt"}});
  TFrmInstall& f = *w.Form;
  QCOMPARE(f.size(), QSize(532, 353));
  QCOMPARE(f.InstallPages->size(), QSize(352, 242));
  QCOMPARE(f.windowTitle(), QStringLiteral("   Instalacja programu Edytor"));
  QCOMPARE(f.LabelTitle->text(), QStringLiteral("Edytor"));
  QCOMPARE(f.LabelTitle->font().pixelSize(), 23);
  QCOMPARE(f.LabelAddr->text(), QStringLiteral("Firma Przykładowa, ul. Źródlana 1, Łódź"));
  QCOMPARE(f.LabWWW->Caption(), QStringLiteral("www.example.com"));
  QCOMPARE(w.Page(), int(kPageMain));
  QCOMPARE(f.MainText->toPlainText(), QStringLiteral("O programie Edytor: zażółć gęślą jaźń."));
  QVERIFY(f.LabAbout->isVisible() && f.LabAuthors->isVisible() && f.LabVersion->isVisible());
  QVERIFY(!f.LabImportant->isVisible());

  f.LabAuthors->clicked();
  QCOMPARE(f.MainText->toPlainText(), QStringLiteral("Autorzy: Jan Żółtowski"));
  w.Dialog.SetAutomaticAnswer(kResultOk);
  f.LabVersion->clicked();
  QCOMPARE(w.Dialog.MsgText, QStringLiteral("Failed to Load Stream"));
  QVERIFY(f.MainText->toPlainText().isEmpty());
  f.LabAbout->clicked();
  QVERIFY(f.MainText->toPlainText().startsWith("O programie"));

  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(f.LabAbout, &enter);
  QCOMPARE(f.LabAbout->ShadowSize(), 1);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(f.LabAbout, &leave);
  QCOMPARE(f.LabAbout->ShadowSize(), 0);

  QTest::mouseClick(f.LabWWW, Qt::LeftButton);
  QCOMPARE(Opened, QStringList{"http://www.example.com/kor/index.html"});
  QVERIFY(QGuiApplication::overrideCursor() == nullptr);

  f.BtnCancel->click();
  QVERIFY(!f.isVisible());
}

void TWizardTest::PageRules_data() {
  QTest::addColumn<bool>("dest");
  QTest::addColumn<bool>("shortcut");
  QTest::addColumn<QList<int>>("next");   // NextPage of pages 0 to 5
  QTest::addColumn<QList<int>>("prior");  // PriorPage of pages 0 to 5
  QTest::newRow("all") << true << true << QList<int>{1, 2, 3, 4, 5, 6}
                       << QList<int>{-1, 0, 1, 2, 3, 4};
  QTest::newRow("no shortcut") << true << false << QList<int>{1, 2, 4, 4, 5, 6}
                               << QList<int>{-1, 0, 1, 2, 2, 4};
  QTest::newRow("no destination") << false << true << QList<int>{1, 3, 3, 4, 5, 6}
                                  << QList<int>{-1, 0, 1, 1, 3, 4};
  QTest::newRow("neither") << false << false << QList<int>{1, 4, 4, 4, 5, 6}
                           << QList<int>{-1, 0, 1, 1, 1, 4};
}

void TWizardTest::PageRules() {
  QFETCH(bool, dest);
  QFETCH(bool, shortcut);
  QFETCH(QList<int>, next);
  QFETCH(QList<int>, prior);
  QList<int> gotNext, gotPrior;
  for (int page = 0; page < kPageCount; ++page) {
    gotNext << NextPage(page, dest, shortcut);
    gotPrior << PriorPage(page, dest, shortcut);
  }
  QCOMPARE(gotNext, next);
  QCOMPARE(gotPrior, prior);
}

void TWizardTest::SummaryLines_data() {
  QTest::addColumn<bool>("dest");
  QTest::addColumn<bool>("exists");
  QTest::addColumn<bool>("shortcut");
  QTest::addColumn<bool>("desktop");
  QTest::addColumn<bool>("start");
  QTest::addColumn<QStringList>("lines");
  const QStringList head{"+ Instalacja programu:", "  - EDYTOR ŁóDź 2"};
  const QStringList dir{"+ Katalog docelowy:", "  - /OPT/FIRMA/EDYTOR"};
  QTest::newRow("nothing chosen") << false << false << false << true << true << head;
  QTest::newRow("destination") << true << false << false << true << true << head + dir;
  QTest::newRow("existing destination")
      << true << true << false << true << true
      << head + dir + QStringList{"  - UWAGA! Katalog o podanej nazwie już istnieje."};
  QTest::newRow("both shortcuts") << true << false << true << true << true
                                  << head + dir +
                                         QStringList{"+ Skróty:", "  - Tworzony skrót na pulpicie",
                                                     "  - Tworzona grupa w Menu Start"};
  QTest::newRow("no shortcuts ticked")
      << true << false << true << false << false
      << head + dir +
             QStringList{"+ Skróty:", "  - Skrót na pulpicie nie jest tworzony",
                         "  - Grupa w Menu Start nie jest tworzona"};
}

void TWizardTest::SummaryLines() {
  QFETCH(bool, dest);
  QFETCH(bool, exists);
  QFETCH(bool, shortcut);
  QFETCH(bool, desktop);
  QFETCH(bool, start);
  QFETCH(QStringList, lines);
  TSummaryChoices choices;
  choices.ProgName = "Edytor Łódź 2";  // only a to z are upper-cased
  choices.DestDirDlg = dest;
  choices.Destination = "/opt/Firma/Edytor";
  choices.DestinationExists = exists;
  choices.ShortcutDlg = shortcut;
  choices.DesktopShortcut = desktop;
  choices.StartMenuGroup = start;
  QCOMPARE(zinst::SummaryLines(choices), lines);
}

QTEST_MAIN(TWizardTest)
#include "FInstall_test.moc"
