// The installer's command line, run through the real binary: the unattended
// install, its log, its exit codes, bad options and --help. The binary is
// copied onto a temporary medium (it reads config.ini from its own directory)
// and runs in a temporary HOME with no display at all: QT_QPA_PLATFORM,
// DISPLAY and WAYLAND_DISPLAY are removed from its environment.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "installer/deploy/exit_codes.h"
#include "installer/deploy/options.h"
#include "installer/test_support/test_env.h"

using namespace zinst;
using zinst::test::ReadAll;
using zinst::test::TTestHome;

using TKeys = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(TKeys)

namespace {

constexpr int kProcessTimeoutMs = 120000;  // a safety net against a hanging installer

struct TResult {
  int ExitCode = -1;
  QString Out;
  QString Err;
};

// A medium holding the installer, its script and the fake setup program, in a
// temporary home. "{home}" in texts stands for the home's path.
class TMedium final {
 public:
  TMedium() {
    const QString installer = Home.Medium() + "installer";
    if (!QFile::copy(QStringLiteral(ZINST_INSTALLER), installer)) qFatal("cannot copy installer");
    zinst::test::InstallFakeSetup(Home);
    Home.WriteFile("afile", "");  // a file where a directory is wanted
  }

  // The standard script (Edytor of Firma, the fake setup program, one
  // shortcut) with changes put over it; a value of "-" removes a key.
  TKeys Script(const TKeys& changes = {}) const {
    TKeys keys = {{"prog_name", "Edytor"},
                  {"prog_dir_name", Home.Path("apps")},
                  {"def_dir_name", "Firma"},
                  {"run_file", "<APPDIR>setup"},
                  {"shortcut_file_name", "edytor"}};
    // No structured binding here: Clang 14 cannot capture one in a lambda.
    for (const auto& change : changes) {
      keys.removeIf([&](const auto& pair) { return pair.first == change.first; });
      if (change.second != "-") keys.append(change);
    }
    Home.WriteScript(keys);
    return keys;
  }

  QString Expand(QString text) const { return text.replace("{home}", Home.Path().chopped(1)); }
  QStringList Expand(const QStringList& texts) const {
    QStringList expanded;
    for (const QString& text : texts) expanded << Expand(text);
    return expanded;
  }

  QProcess* Start(const QStringList& arguments, const QString& setupMode) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      environment.remove(name);
    }
    environment.insert("FAKE_SETUP_MODE", setupMode);
    Process.setProcessEnvironment(environment);
    Process.setWorkingDirectory(Home.Path());
    Process.start(Home.Medium() + "installer", Expand(arguments));
    return &Process;
  }

  TResult Run(const QStringList& arguments, const QString& setupMode = "exit 0") {
    Start(arguments, setupMode);
    TResult result;
    if (!Process.waitForFinished(kProcessTimeoutMs) ||
        Process.exitStatus() != QProcess::NormalExit) {
      Process.kill();
      Process.waitForFinished();
      result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
      return result;
    }
    result.ExitCode = Process.exitCode();
    result.Out = QString::fromLocal8Bit(Process.readAllStandardOutput());
    result.Err = QString::fromLocal8Bit(Process.readAllStandardError());
    return result;
  }

  // The log's lines without their time stamps (each checked for its form);
  // the free megabytes and the mount point of the destination line, which
  // depend on the machine, become "N MB".
  QStringList LogLines(const QString& path = "{home}/install.log") const {
    static const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  (.*)$");
    static const QRegularExpression space("(, wolne miejsce: )\\d+ MB na /.*$");
    QStringList lines;
    const QString text = QString::fromUtf8(ReadAll(Expand(path)));
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
      const QRegularExpressionMatch match = stamp.match(line);
      if (!match.hasMatch()) return {"no time stamp: " + line};
      lines << match.captured(1).replace(space, "\\1N MB");
    }
    if (!text.isEmpty() && !text.endsWith('\n')) lines << "no line end";
    return lines;
  }

  bool Exists(const QString& path) const { return QFileInfo::exists(Expand(path)); }

  TTestHome Home;
  QProcess Process;
};

// The script's lines of the log for the keys written, unknown named apart.
QStringList ScriptLines(const TKeys& keys, const QString& unknown, const QString& flags) {
  QStringList names;
  for (const auto& pair : keys) {
    if (pair.first != unknown) names << pair.first;
  }
  QStringList lines = {"Skrypt: {home}/medium/config.ini", "Klucze skryptu: " + names.join(", ")};
  if (!unknown.isEmpty()) lines << "Nieznane klucze skryptu: " + unknown;
  lines << "Ustawienia: " + flags;
  for (const auto& [key, value] : keys) {
    if (key == "run_file") lines << "run_file: " + value + " -> {home}/medium/setup";
  }
  return lines;
}

const QStringList kInstall = {"--silent", "--accept-licence", "--dest={home}/dest"};

}  // namespace

class TDeployTest : public QObject {
  Q_OBJECT

 private slots:
  void Outcomes_data();
  void Outcomes();
  void LogLines_data();
  void LogLines();
  void BadOptionsAndScripts_data();
  void BadOptionsAndScripts();
  void RunInPlaceWaitsForTheStartedProgram();
  void HelpIsPrintedInPolish_data();
  void HelpIsPrintedInPolish();
};

void TDeployTest::Outcomes_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<TKeys>("changes");
  QTest::addColumn<QString>("mode");  // FAKE_SETUP_MODE
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("ranIn");  // where the setup program ran; "" nowhere
  QTest::addColumn<bool>("desktop");
  QTest::addColumn<bool>("menu");
  const QString dest = "{home}/dest";
  QTest::newRow("installed") << kInstall << TKeys{} << "exit 0" << 0 << dest << true << true;
  QTest::newRow("default destination")
      << QStringList{"--silent", "--accept-licence"} << TKeys{} << "exit 0" << 0
      << "{home}/apps/Firma/Edytor" << true << true;
  QTest::newRow("relative destination")
      << QStringList{"--silent", "--accept-licence", "--dest=rel/dest"} << TKeys{} << "exit 0" << 0
      << "{home}/rel/dest" << true << true;
  QTest::newRow("no shortcuts chosen") << kInstall + QStringList{"--no-desktop", "--no-menu"}
                                       << TKeys{} << "exit 0" << 0 << dest << false << false;
  QTest::newRow("desktop only") << kInstall + QStringList{"--no-menu"} << TKeys{} << "exit 0" << 0
                                << dest << true << false;
  QTest::newRow("shortcut page off")
      << kInstall << TKeys{{"shortcut_dlg", "0"}} << "exit 0" << 0 << dest << false << false;
  QTest::newRow("exit code 3 counts as success")
      << kInstall << TKeys{} << "exit 3" << 0 << dest << true << true;
  QTest::newRow("setup ended by a signal")
      << kInstall << TKeys{} << "crash" << 1 << dest << false << false;
  QTest::newRow("run file missing") << kInstall << TKeys{{"run_file", "<APPDIR>nothing"}}
                                    << "exit 0" << 1 << "" << false << false;
  QTest::newRow("destination cannot be made")
      << QStringList{"--silent", "--accept-licence", "--dest={home}/afile/x"} << TKeys{} << "exit 0"
      << 1 << "" << false << false;
  QTest::newRow("run in place, its exit code not checked")
      << kInstall << TKeys{{"dest_dir_dlg", "0"}} << "exit 5" << 0 << "{home}/medium" << false
      << false;
  QTest::newRow("licence not accepted") << QStringList{"--silent", "--dest={home}/dest"} << TKeys{}
                                        << "exit 0" << 2 << "" << false << false;
  QTest::newRow("no free space at the destination")
      << QStringList{"--silent", "--accept-licence", "--dest=/proc/zinst-dest"} << TKeys{}
      << "exit 0" << 2 << "" << false << false;
}

void TDeployTest::Outcomes() {
  QFETCH(QStringList, arguments);
  QFETCH(TKeys, changes);
  QFETCH(QString, mode);
  QFETCH(int, exitCode);
  QFETCH(QString, ranIn);
  QFETCH(bool, desktop);
  QFETCH(bool, menu);
  TMedium medium;
  medium.Script(changes);
  const TResult result = medium.Run(arguments, mode);
  QCOMPARE(result.ExitCode, exitCode);
  QCOMPARE(result.Out, QString());
  QCOMPARE(result.Err.isEmpty(), exitCode == kExitInstalled);
  QCOMPARE(medium.Exists(ranIn + "/ran.txt"), !ranIn.isEmpty());
  QCOMPARE(medium.Exists("{home}/dest"), ranIn == "{home}/dest");
  if (exitCode == kExitInstalled && ranIn != "{home}/medium") {
    QVERIFY(!medium.Exists(ranIn + "/setup"));  // the copy is gone
  }
  QVERIFY(medium.Exists("{home}/medium/setup"));
  QCOMPARE(medium.Exists("{home}/Desktop/Edytor.desktop"), desktop);
  QCOMPARE(medium.Exists("{home}/.local/share/applications/Firma/Edytor/Edytor.desktop"), menu);
  QCOMPARE(medium.Exists("{home}/.config/menus/applications-merged/zinst-Firma-Edytor.menu"), menu);
  QVERIFY(!medium.Exists("{home}/install.log"));  // no log unless asked for
}

void TDeployTest::LogLines_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<TKeys>("changes");
  QTest::addColumn<QString>("mode");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("unknown");  // the misspelt key of the script, if any
  QTest::addColumn<QString>("flags");
  QTest::addColumn<QStringList>("lines");  // after the script's lines
  const QString silent = "Instalacja bez okien (--silent)";
  const QString accepted = "Licencja zaakceptowana (--accept-licence)";
  const QStringList run = {
      accepted,
      "Katalog docelowy: {home}/dest/, wolne miejsce: N MB",
      "Skopiowano: {home}/medium/setup -> {home}/dest/setup",
      "Uruchamianie: {home}/dest/setup",
  };
  const QString deleted = "Usunięto kopię: {home}/dest/setup";
  const QString desktopEntry =
      "Skrót zapisany: {home}/Desktop/Edytor.desktop -> {home}/dest/edytor";
  const QString menuEntry =
      "Skrót zapisany: {home}/.local/share/applications/Firma/Edytor/Edytor.desktop -> "
      "{home}/dest/edytor";
  const QString success = "Wynik: instalacja zakończona pomyślnie";
  const QString failure = "Wynik: instalacja nieudana";
  const QString on = "dest_dir_dlg=1, shortcut_dlg=1";

  QTest::newRow("installed") << kInstall << TKeys{} << "exit 0" << 0 << "" << on
                             << run + QStringList{"Kod wyjścia: 0 (powodzenie)",
                                                  deleted,
                                                  desktopEntry,
                                                  menuEntry,
                                                  "Grupa menu zapisana: Firma/Edytor",
                                                  success,
                                                  "Kod wyjścia instalatora: 0"};
  QTest::newRow("shortcuts not chosen")
      << kInstall + QStringList{"--no-desktop", "--no-menu"} << TKeys{} << "exit 7" << 0 << "" << on
      << run + QStringList{"Kod wyjścia: 7 (powodzenie)",
                           deleted,
                           "Skróty na pulpicie pominięte: nie wybrano",
                           "Skróty w menu pominięte: nie wybrano",
                           success,
                           "Kod wyjścia instalatora: 0"};
  QTest::newRow("shortcut page off")
      << kInstall << TKeys{{"shortcut_dlg", "0"}} << "exit 0" << 0 << ""
      << "dest_dir_dlg=1, shortcut_dlg=0"
      << run + QStringList{"Kod wyjścia: 0 (powodzenie)", deleted,
                           "Skróty pominięte: shortcut_dlg=0", success,
                           "Kod wyjścia instalatora: 0"};
  QTest::newRow("no shortcut files, a misspelt key")
      << kInstall << TKeys{{"shortcut_file_name", "-"}, {"shortcut_fil_name", "edytor"}} << "exit 0"
      << 0 << "shortcut_fil_name" << on
      << run + QStringList{"Kod wyjścia: 0 (powodzenie)",
                           deleted,
                           "Skróty w {home}/Desktop/ pominięte: shortcut_file_name jest pusty",
                           "Skróty w {home}/.local/share/applications/Firma/Edytor/ pominięte: "
                           "shortcut_file_name jest pusty",
                           success,
                           "Kod wyjścia instalatora: 0"};
  QTest::newRow("setup ended by a signal")
      << kInstall << TKeys{} << "crash" << 1 << "" << on
      << run +
             QStringList{"Kod wyjścia: -6 (niepowodzenie)", failure, "Kod wyjścia instalatora: 1"};
  QTest::newRow("copy fails") << QStringList{"--silent", "--accept-licence",
                                             "--dest={home}/afile/x"}
                              << TKeys{} << "exit 0" << 1 << "" << on
                              << QStringList{accepted,
                                             "Katalog docelowy: {home}/afile/x/, wolne miejsce: "
                                             "N MB",
                                             "Kopiowanie nieudane: nie można utworzyć katalogu "
                                             "{home}/afile/x/",
                                             failure, "Kod wyjścia instalatora: 1"};
  QTest::newRow("run in place")
      << kInstall << TKeys{{"dest_dir_dlg", "0"}} << "exit 5" << 0 << ""
      << "dest_dir_dlg=0, shortcut_dlg=0"
      << QStringList{accepted,
                     "--dest pominięte: program uruchamiany w miejscu (dest_dir_dlg=0)",
                     "Katalog docelowy: brak (dest_dir_dlg=0, program uruchamiany w miejscu)",
                     "Uruchamianie w miejscu: {home}/medium/setup",
                     "Program zakończony, kod wyjścia: 5",
                     "Skróty pominięte: dest_dir_dlg=0",
                     success,
                     "Kod wyjścia instalatora: 0"};
  QTest::newRow("licence not accepted")
      << QStringList{"--silent", "--dest={home}/dest"} << TKeys{} << "exit 0" << 2 << "" << on
      << QStringList{
             "Odmowa: instalacja przerwana: warunki licencji nie zostały zaakceptowane "
             "(brak --accept-licence)",
             "Kod wyjścia instalatora: 2"};
  QTest::newRow("no free space")
      << QStringList{"--silent", "--accept-licence", "--dest=/proc/zinst-dest"} << TKeys{}
      << "exit 0" << 2 << "" << on
      << QStringList{accepted, "Katalog docelowy: /proc/zinst-dest, wolne miejsce: 0 MB",
                     "Odmowa: instalacja przerwana: brak wolnego miejsca albo dostępu do dysku "
                     "katalogu docelowego",
                     "Kod wyjścia instalatora: 2"};
  QTest::newRow("no run file in the script")
      << kInstall << TKeys{{"run_file", "-"}} << "exit 0" << 3 << "" << on
      << QStringList{"Odmowa: skrypt {home}/medium/config.ini nie podaje programu (run_file)",
                     "Kod wyjścia instalatora: 3"};
}

void TDeployTest::LogLines() {
  QFETCH(QStringList, arguments);
  QFETCH(TKeys, changes);
  QFETCH(QString, mode);
  QFETCH(int, exitCode);
  QFETCH(QString, unknown);
  QFETCH(QString, flags);
  QFETCH(QStringList, lines);
  TMedium medium;
  const TKeys keys = medium.Script(changes);
  const TResult result = medium.Run(arguments + QStringList{"--log=install.log"}, mode);
  QCOMPARE(result.ExitCode, exitCode);
  const QStringList expected =
      QStringList{"Instalacja bez okien (--silent)"} + ScriptLines(keys, unknown, flags) + lines;
  QCOMPARE(medium.LogLines(), medium.Expand(expected));
}

void TDeployTest::BadOptionsAndScripts_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QString>("script");  // "standard", "none", "empty"
  QTest::addColumn<QString>("error");   // the first line on standard error
  const QString log = "--log={home}/install.log";
  QTest::newRow("unknown option") << QStringList{"--silent", "--bogus", log} << "standard"
                                  << "nieznana opcja: --bogus";
  QTest::newRow("an option of Qt's") << QStringList{"-platform", "offscreen"} << "standard"
                                     << "nieznana opcja: -platform";
  QTest::newRow("a bare argument") << QStringList{"--silent", "dest"} << "standard"
                                   << "nieoczekiwany argument: dest";
  QTest::newRow("value missing") << QStringList{"--silent", "--dest", log} << "standard"
                                 << "opcja --dest wymaga wartości: --dest=KATALOG";
  QTest::newRow("empty value") << QStringList{"--silent", "--log="} << "standard"
                               << "opcja --log wymaga wartości: --log=PLIK";
  QTest::newRow("a flag with a value") << QStringList{"--silent=1"} << "standard"
                                       << "opcja --silent nie przyjmuje wartości";
  QTest::newRow("given twice") << QStringList{"--silent", "--no-menu", "--no-menu"} << "standard"
                               << "opcja --no-menu podana więcej niż raz";
  QTest::newRow("licence without --silent") << QStringList{"--accept-licence", log} << "standard"
                                            << "opcja --accept-licence działa tylko z --silent";
  QTest::newRow("destination without --silent") << QStringList{"--dest={home}/dest"} << "standard"
                                                << "opcja --dest działa tylko z --silent";
  QTest::newRow("log cannot be written, silent")
      << QStringList{"--silent", "--accept-licence", "--log={home}/no-dir/install.log"}
      << "standard"
      << "nie można zapisać dziennika {home}/no-dir/install.log";
  QTest::newRow("log cannot be written, wizard")
      << QStringList{"--log={home}/no-dir/install.log"} << "standard"
      << "nie można zapisać dziennika {home}/no-dir/install.log";
  QTest::newRow("no script") << kInstall << "none"
                             << "brak skryptu instalacji {home}/medium/config.ini";
  QTest::newRow("script without its section")
      << kInstall << "empty"
      << "skrypt {home}/medium/config.ini nie podaje programu (run_file)";
}

void TDeployTest::BadOptionsAndScripts() {
  QFETCH(QStringList, arguments);
  QFETCH(QString, script);
  QFETCH(QString, error);
  TMedium medium;
  if (script == "standard") medium.Script();
  if (script == "empty") medium.Home.WriteFile("medium/config.ini", "; nothing here\n");
  const QByteArray scriptBefore = ReadAll(medium.Expand("{home}/medium/config.ini"));
  const TResult result = medium.Run(arguments);
  QCOMPARE(result.ExitCode, int(kExitBadOptions));
  QCOMPARE(result.Err.split('\n').value(0), "installer: " + medium.Expand(error));
  QCOMPARE(result.Out, QString());
  // Nothing was done: no run, no shortcut, no template written for a
  // missing script, no log for options that were not understood.
  QVERIFY(!medium.Exists("{home}/dest"));
  QVERIFY(!medium.Exists("{home}/medium/ran.txt"));
  QVERIFY(!medium.Exists("{home}/Desktop"));
  QCOMPARE(ReadAll(medium.Expand("{home}/medium/config.ini")), scriptBefore);
  QVERIFY(!medium.Exists("{home}/install.log"));
}

void TDeployTest::RunInPlaceWaitsForTheStartedProgram() {
  TMedium medium;
  medium.Script({{"dest_dir_dlg", "0"}});
  QProcess* installer =
      medium.Start({"--silent", "--accept-licence", "--log={home}/install.log"}, "wait");
  // The program has started and waits for "go": the installer must still be
  // waiting for it.
  QTRY_VERIFY_WITH_TIMEOUT(medium.Exists("{home}/medium/ran.txt"), kProcessTimeoutMs);
  QCOMPARE(installer->state(), QProcess::Running);
  QVERIFY(!medium.Exists("{home}/medium/done.txt"));
  medium.Home.WriteFile("medium/go", "");
  QVERIFY(installer->waitForFinished(kProcessTimeoutMs));
  QCOMPARE(installer->exitStatus(), QProcess::NormalExit);
  QCOMPARE(installer->exitCode(), int(kExitInstalled));
  QVERIFY(medium.Exists("{home}/medium/done.txt"));
  QVERIFY(medium.LogLines().contains("Program zakończony, kod wyjścia: 0"));
}

void TDeployTest::HelpIsPrintedInPolish_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::newRow("alone") << QStringList{"--help"};
  QTest::newRow("with other options") << QStringList{"--silent", "--help", "--no-menu"};
}

void TDeployTest::HelpIsPrintedInPolish() {
  QFETCH(QStringList, arguments);
  TMedium medium;  // no script: --help reads none and writes no template
  const TResult result = medium.Run(arguments);
  QCOMPARE(result.ExitCode, int(kExitInstalled));
  QCOMPARE(result.Err, QString());
  QCOMPARE(result.Out, HelpText());
  QVERIFY(result.Out.startsWith("Użycie: installer [opcje]\n"));
  for (const char* option : {"--silent", "--accept-licence", "--dest=KATALOG", "--no-desktop",
                             "--no-menu", "--log=PLIK", "--help", "Kody wyjścia"}) {
    QVERIFY2(result.Out.contains(QString::fromUtf8(option)), option);
  }
  QVERIFY(!medium.Exists("{home}/medium/config.ini"));
}

QTEST_GUILESS_MAIN(TDeployTest)
#include "silent_install_test.moc"
