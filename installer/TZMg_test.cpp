#include "installer/TZMg.h"

#include <unistd.h>

#include <QDir>
#include <QTest>
#include <QTextDocument>

#include "installer/ZUtils.h"
#include "installer/platform/ini_file.h"
#include "installer/test_support/test_env.h"

using zinst::TZInstallManager;
using zinst::test::TTestHome;

class TScriptTest : public QObject {
  Q_OBJECT

 private slots:
  void MissingScriptWritesTheTemplateInOrder();
  void TemplateThatCannotBeWrittenStopsTheRun();
  void SectionHeaderAloneGivesTheDefaults();
  void Flags_data();
  void Flags();
  void ExpandAppDir_data();
  void ExpandAppDir();
  void MarkerInTheInstallerDirectoryStillEnds();
  void IniRules_data();
  void IniRules();
  void WritingKeepsOrderAndReplacesInPlace();
  void SplitString_data();
  void SplitString();
  void LoadDocument();
};

void TScriptTest::MissingScriptWritesTheTemplateInOrder() {
  TTestHome home;
  TZInstallManager first(home.Medium());
  QVERIFY(first.ProgName.isEmpty());
  QVERIFY(first.ProgDirName.isEmpty());
  QVERIFY(first.RunFile.isEmpty());
  QVERIFY(first.DestDirDlg);
  QVERIFY(first.ShortcutDlg);

  const QStringList lines =
      QString::fromUtf8(zinst::test::ReadAll(home.Medium() + "config.ini")).split('\n');
  const QString tail =
      QStringLiteral(" (<APPDIR> to katalog z plikami instalacji zakonczony \"\\\")]");
  const QStringList expected = {
      "[INSTALL_CONFIG]",
      "prog_name=[nazwa instalowanego programu (tytuł)]",
      "prog_dir_name=[nazwa katalogu \"Program Files\"]",
      "def_dir_name=[domyślna nazwa podkatalogu]",
      "firm_addr=[dane adresowe firmy]",
      "www_addr=[adres serwisu WWW postaci np. http://www.example.com/index.html]",
      "run_file=[sciezka dostepu do uruchamianego pliku" + tail,
      "licence_file=[sciezka dostepu do pliku z licencja" + tail,
      "about_file=[sciezka dostepu do pliku about" + tail,
      "authors_file=[sciezka dostepu do pliku z danymi autorow" + tail,
      "ver_file=[sciezka dostepu do pliku z informacjami o wersji" + tail,
      "important_file=[sciezka dostepu do pliku z waznymi dodatkowymi informacjami" + tail,
      "shortcut_file_name=[nazwa pliku (w katalogu docelowym), do którego tworzony jest skrót]",
      "shortcut_descr=[opis (podpis) tworzonego skrótu]",
      "shortcut_ico=[nazwa pliku (w katalogu docelowym) z ikoną skrótu]",
      "dest_dir_dlg=[czy wyświetlać dialog wyboru katalogu docelowego - 0/1]",
      "shortcut_dlg=[czy wyświetlać dialog dodawania skrótów - 0/1]",
      "",
  };
  QCOMPARE(lines, expected);

  // The next start reads the template; its flag texts are no numbers.
  TZInstallManager second(home.Medium());
  QCOMPARE(second.ProgName, QStringLiteral("[nazwa instalowanego programu (tytuł)]"));
  QCOMPARE(second.ShortcutDescr, QStringLiteral("[opis (podpis) tworzonego skrótu]"));
  QVERIFY(second.DestDirDlg);
  QVERIFY(second.ShortcutDlg);
}

void TScriptTest::TemplateThatCannotBeWrittenStopsTheRun() {
  TTestHome home;
  const QString medium = home.Path("no/such/medium/");
  try {
    TZInstallManager manager(medium);
    QFAIL("no error");
  } catch (const zinst::EInstallError& error) {
    QCOMPARE(QString::fromUtf8(error.what()), "Unable to write to " + medium + "config.ini");
  }
}

void TScriptTest::SectionHeaderAloneGivesTheDefaults() {
  TTestHome home;
  home.WriteScript({});
  TZInstallManager manager(home.Medium());
  QVERIFY(manager.ProgName.isEmpty());
  QVERIFY(manager.DefDirName.isEmpty());
  QVERIFY(manager.WwwAddr.isEmpty());
  QCOMPARE(manager.ProgDirName, zinst::DefaultProgDirName());
  QCOMPARE(manager.ProgDirName,
           geteuid() == 0 ? QStringLiteral("/opt/") : QDir::homePath() + "/.local/opt/");
  QVERIFY(manager.DestDirDlg);
  QVERIFY(manager.ShortcutDlg);
}

void TScriptTest::Flags_data() {
  QTest::addColumn<QString>("destDirDlg");  // "-" leaves the key out
  QTest::addColumn<QString>("shortcutDlg");
  QTest::addColumn<bool>("dest");
  QTest::addColumn<bool>("shortcut");
  QTest::newRow("both missing") << "-"
                                << "-" << true << true;
  QTest::newRow("1 0") << "1"
                       << "0" << true << false;
  QTest::newRow("0 forces shortcut off") << "0"
                                         << "1" << false << false;
  QTest::newRow("0x0 is zero") << "0x0"
                               << "1" << false << false;
  QTest::newRow("yes is the default") << "yes"
                                      << "1" << true << true;
  QTest::newRow("hex $10, 0X0") << "$10"
                                << "0X0" << true << false;
  QTest::newRow("negative is true") << "-1"
                                    << "2" << true << true;
  QTest::newRow("trailing junk is the default") << "0abc"
                                                << "" << true << true;
  QTest::newRow("quoted zero") << "\"0\""
                               << "1" << false << false;
}

void TScriptTest::Flags() {
  QFETCH(QString, destDirDlg);
  QFETCH(QString, shortcutDlg);
  QFETCH(bool, dest);
  QFETCH(bool, shortcut);
  TTestHome home;
  QList<QPair<QString, QString>> keys;
  if (destDirDlg != "-") keys.append({"dest_dir_dlg", destDirDlg});
  if (shortcutDlg != "-") keys.append({"shortcut_dlg", shortcutDlg});
  home.WriteScript(keys);
  TZInstallManager manager(home.Medium());
  QCOMPARE(manager.DestDirDlg, dest);
  QCOMPARE(manager.ShortcutDlg, shortcut);
}

void TScriptTest::ExpandAppDir_data() {
  QTest::addColumn<QString>("value");     // as written in the script
  QTest::addColumn<QString>("expanded");  // "@" stands for the installer directory
  QTest::newRow("backslash form") << "<APPDIR>\\docs\\licence.rtf"
                                  << "@docs/licence.rtf";
  QTest::newRow("bare form") << "<APPDIR>docs\\licence.rtf"
                             << "@docs/licence.rtf";
  QTest::newRow("slash form") << "<APPDIR>/docs/licence.rtf"
                              << "@docs/licence.rtf";
  QTest::newRow("lower case is not the marker") << "<appdir>docs"
                                                << "<appdir>docs";
  QTest::newRow("no marker") << "/srv/setup"
                             << "/srv/setup";
  QTest::newRow("twice") << "<APPDIR>a|<APPDIR>\\b"
                         << "@a|@b";
}

void TScriptTest::ExpandAppDir() {
  QFETCH(QString, value);
  QFETCH(QString, expanded);
  TTestHome home;
  home.WriteScript({{"licence_file", value}});
  TZInstallManager manager(home.Medium());
  QCOMPARE(manager.ExpandAppDir(manager.LicenceFile), expanded.replace("@", home.Medium()));
}

void TScriptTest::MarkerInTheInstallerDirectoryStillEnds() {
  TTestHome home;
  const QString medium = home.Path("<APPDIR>/");
  QDir().mkpath(medium);
  TZInstallManager manager(medium);
  QCOMPARE(manager.ExpandAppDir("<APPDIR>setup"), medium + "setup");
}

void TScriptTest::IniRules_data() {
  QTest::addColumn<QByteArray>("script");
  QTest::addColumn<QString>("progName");
  const QByteArray long3000(3000, 'x');
  QTest::newRow("3000 characters read as 2047") << "[INSTALL_CONFIG]\nprog_name=" + long3000 + "\n"
                                                << QString(2047, 'x');
  QTest::newRow("names without regard to case")
      << QByteArray("[install_config]\nPROG_NAME=Edytor\n") << "Edytor";
  QTest::newRow("trimmed, one pair of quotes removed")
      << QByteArray("[INSTALL_CONFIG]\n  prog_name =  \"'Edytor'\"  \n") << "'Edytor'";
  QTest::newRow("other sections and comments ignored")
      << QByteArray("[OTHER]\nprog_name=A\n[INSTALL_CONFIG]\n;prog_name=B\nprog_name=C\n") << "C";
  QTest::newRow("first key wins, CRLF lines")
      << QByteArray("[INSTALL_CONFIG]\r\nprog_name=first\r\nprog_name=second\r\n") << "first";
  QTest::newRow("UTF-8") << QByteArray("[INSTALL_CONFIG]\nprog_name=Zażółć gęślą\n")
                         << "Zażółć gęślą";
  QTest::newRow("code page 1250")
      << QByteArray(
             "[INSTALL_CONFIG]\nprog_name=Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 \xa3\xd3\x8c\x8f\n")
      << "Zażółć gęślą ŁÓŚŹ";
}

void TScriptTest::IniRules() {
  QFETCH(QByteArray, script);
  QFETCH(QString, progName);
  TTestHome home;
  home.WriteFile("medium/config.ini", script);
  QCOMPARE(TZInstallManager(home.Medium()).ProgName, progName);
}

void TScriptTest::WritingKeepsOrderAndReplacesInPlace() {
  TTestHome home;
  home.WriteFile("a.ini", "; note\n[ONE]\nx=1\n\n[TWO]\ny=2\n");
  const zinst::TIniFile ini(home.Path("a.ini"));
  QVERIFY(ini.WriteString("one", "z", "3"));
  QVERIFY(ini.WriteString("ONE", "X", "4"));
  QVERIFY(ini.WriteString("THREE", "w", "5"));
  QCOMPARE(zinst::test::ReadAll(home.Path("a.ini")),
           QByteArray("; note\n[ONE]\nX=4\nz=3\n\n[TWO]\ny=2\n\n[THREE]\nw=5\n"));
}

void TScriptTest::SplitString_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QStringList>("items");
  QTest::newRow("empty") << "" << QStringList{};
  QTest::newRow("one") << "a.exe" << QStringList{"a.exe"};
  QTest::newRow("a|b") << "a|b" << QStringList{"a", "b"};
  QTest::newRow("a||b") << "a||b" << QStringList{"a", "", "b"};
  QTest::newRow("|a") << "|a" << QStringList{"", "a"};
  QTest::newRow("a|") << "a|" << QStringList{"a", ""};
  QTest::newRow("not trimmed") << " a | b " << QStringList{" a ", " b "};
}

void TScriptTest::SplitString() {
  QFETCH(QString, text);
  QFETCH(QStringList, items);
  QStringList list{"left over"};
  zinst::SplitString(list, text, "|");
  QCOMPARE(list, items);
}

void TScriptTest::LoadDocument() {
  TTestHome home;
  home.WriteScript({});
  home.WriteFile("medium/about.txt", "O programie: \xbf\xf3\xb3w");  // code page 1250
  QDir().mkpath(home.Medium() + "folder.rtf");
  TZInstallManager manager(home.Medium());
  QTextDocument document;
  document.setPlainText("old");
  QVERIFY(!manager.LoadDocument("<APPDIR>missing.rtf", document));
  QVERIFY(document.isEmpty());
  QVERIFY(manager.LoadDocument("<APPDIR>\\about.txt", document));
  QCOMPARE(document.toPlainText(), QStringLiteral("O programie: żółw"));
  QVERIFY_THROWS_EXCEPTION(zinst::EInstallError,
                           manager.LoadDocument("<APPDIR>folder.rtf", document));
}

QTEST_MAIN(TScriptTest)
#include "TZMg_test.moc"
