#include "installer/TZMg.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextDocument>
#include <utility>

#include "installer/ZUtils.h"
#include "installer/platform/rtf_reader.h"
#include "installer/platform/text_decoding.h"

namespace zinst {

const char* const kScriptFileName = "config.ini";
const char* const kScriptSection = "INSTALL_CONFIG";

namespace {

QString Section() { return QString::fromLatin1(kScriptSection); }

QString PathValue(QString value) { return value.replace(QLatin1Char('\\'), QLatin1Char('/')); }

// The template's keys, in the order they are written, with their explanations.
const std::pair<const char*, const char*> kTemplate[] = {
    {"prog_name", "[nazwa instalowanego programu (tytuł)]"},
    {"prog_dir_name", "[nazwa katalogu \"Program Files\"]"},
    {"def_dir_name", "[domyślna nazwa podkatalogu]"},
    {"firm_addr", "[dane adresowe firmy]"},
    {"www_addr", "[adres serwisu WWW postaci np. http://www.example.com/index.html]"},
    {"run_file",
     "[sciezka dostepu do uruchamianego pliku (<APPDIR> to katalog z plikami instalacji "
     "zakonczony \"\\\")]"},
    {"licence_file",
     "[sciezka dostepu do pliku z licencja (<APPDIR> to katalog z plikami instalacji "
     "zakonczony \"\\\")]"},
    {"about_file",
     "[sciezka dostepu do pliku about (<APPDIR> to katalog z plikami instalacji "
     "zakonczony \"\\\")]"},
    {"authors_file",
     "[sciezka dostepu do pliku z danymi autorow (<APPDIR> to katalog z plikami instalacji "
     "zakonczony \"\\\")]"},
    {"ver_file",
     "[sciezka dostepu do pliku z informacjami o wersji (<APPDIR> to katalog z plikami "
     "instalacji zakonczony \"\\\")]"},
    {"important_file",
     "[sciezka dostepu do pliku z waznymi dodatkowymi informacjami (<APPDIR> to katalog z "
     "plikami instalacji zakonczony \"\\\")]"},
    {"shortcut_file_name", "[nazwa pliku (w katalogu docelowym), do którego tworzony jest skrót]"},
    {"shortcut_descr", "[opis (podpis) tworzonego skrótu]"},
    {"shortcut_ico", "[nazwa pliku (w katalogu docelowym) z ikoną skrótu]"},
    {"dest_dir_dlg", "[czy wyświetlać dialog wyboru katalogu docelowego - 0/1]"},
    {"shortcut_dlg", "[czy wyświetlać dialog dodawania skrótów - 0/1]"},
};

}  // namespace

bool IsScriptKey(const QString& key) {
  for (const auto& entry : kTemplate) {
    if (key.compare(QLatin1String(entry.first), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

QString DefaultProgDirName() {
  if (geteuid() == 0) return QStringLiteral("/opt/");
  return IncludeTrailingSlash(QDir::homePath() + QLatin1String("/.local/opt"));
}

TZInstallManager::TZInstallManager(const QString& appDir)
    : Dir(IncludeTrailingSlash(appDir.isEmpty() ? AppDir() : appDir)) {
  const QString scriptPath = Dir + QString::fromLatin1(kScriptFileName);
  const bool exists = QFileInfo(scriptPath).isFile();
  IniFile = std::make_unique<TIniFile>(scriptPath);
  if (exists) {
    LoadConfig();
    return;
  }
  DestDirDlg = true;
  ShortcutDlg = true;
  WriteConfigTemplate();
}

void TZInstallManager::LoadConfig() {
  const QString s = Section();
  auto text = [&](const char* key, const QString& def = QString()) {
    return IniFile->ReadString(s, QString::fromLatin1(key), def);
  };
  ProgName = text("prog_name");
  ProgDirName = PathValue(text("prog_dir_name", DefaultProgDirName()));
  DefDirName = PathValue(text("def_dir_name"));
  FirmAddr = text("firm_addr");
  WwwAddr = text("www_addr");
  RunFile = PathValue(text("run_file"));
  LicenceFile = PathValue(text("licence_file"));
  AboutFile = PathValue(text("about_file"));
  AuthorsFile = PathValue(text("authors_file"));
  VerFile = PathValue(text("ver_file"));
  ImportantFile = PathValue(text("important_file"));
  ShortcutFileName = PathValue(text("shortcut_file_name"));
  ShortcutDescr = text("shortcut_descr");
  ShortcutIco = PathValue(text("shortcut_ico"));
  DestDirDlg = IniFile->ReadInteger(s, QStringLiteral("dest_dir_dlg"), 1) != 0;
  ShortcutDlg = IniFile->ReadInteger(s, QStringLiteral("shortcut_dlg"), 1) != 0;
  if (!DestDirDlg) ShortcutDlg = false;
}

void TZInstallManager::WriteConfigTemplate() {
  for (const auto& [key, value] : kTemplate) {
    if (!IniFile->WriteString(Section(), QString::fromLatin1(key), QString::fromUtf8(value))) {
      throw EInstallError(("Unable to write to " + IniFile->FileName()).toStdString());
    }
  }
}

QString TZInstallManager::ExpandAppDir(const QString& path) const {
  QString expanded = ReplaceAll(Dir, QStringLiteral("<APPDIR>/"), path);
  expanded = ReplaceAll(Dir, QStringLiteral("<APPDIR>\\"), expanded);
  return ReplaceAll(Dir, QStringLiteral("<APPDIR>"), expanded);
}

bool TZInstallManager::LoadDocument(const QString& path, QTextDocument& document) const {
  document.clear();
  const QString file = ExpandAppDir(path);
  if (file.isEmpty() || !QFileInfo::exists(file)) return false;
  QFile input(file);
  if (!input.open(QIODevice::ReadOnly)) throw EInstallError("Failed to Load Stream");
  const QByteArray bytes = input.readAll();
  if (input.error() != QFile::NoError) throw EInstallError("Failed to Load Stream");
  if (!ReadRtf(bytes, document)) document.setPlainText(DecodeText(bytes));
  return true;
}

}  // namespace zinst
