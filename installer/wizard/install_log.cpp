#include "installer/wizard/install_log.h"

#include <QDateTime>
#include <QStringList>

#include "installer/TZMg.h"

namespace zinst {

bool TInstallLog::Open(const QString& path) {
  File.setFileName(path);
  return File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

void TInstallLog::Line(const QString& text) {
  if (!File.isOpen()) return;
  const QByteArray line =
      (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
       QLatin1String("  ") + text + QLatin1Char('\n'))
          .toUtf8();
  // A log that can no longer be written (a full disk) must not change the
  // install's outcome, so a failed write is left unreported.
  File.write(line);
}

void LogScript(TInstallLog& log, const TZInstallManager& manager) {
  if (!log.IsOpen()) return;
  log.Line(QStringLiteral("Skrypt: ") + manager.IniFile->FileName());
  QStringList known, unknown;
  for (const QString& key : manager.IniFile->Keys(QString::fromLatin1(kScriptSection))) {
    (IsScriptKey(key) ? known : unknown) << key;
  }
  log.Line(QStringLiteral("Klucze skryptu: ") +
           (known.isEmpty() ? QStringLiteral("brak") : known.join(QLatin1String(", "))));
  if (!unknown.isEmpty()) {
    log.Line(QStringLiteral("Nieznane klucze skryptu: ") + unknown.join(QLatin1String(", ")));
  }
  log.Line(QStringLiteral("Ustawienia: dest_dir_dlg=%1, shortcut_dlg=%2")
               .arg(int(manager.DestDirDlg))
               .arg(int(manager.ShortcutDlg)));
  const std::pair<const char*, const QString*> paths[] = {
      {"run_file", &manager.RunFile},     {"licence_file", &manager.LicenceFile},
      {"about_file", &manager.AboutFile}, {"authors_file", &manager.AuthorsFile},
      {"ver_file", &manager.VerFile},     {"important_file", &manager.ImportantFile},
  };
  for (const auto& [key, value] : paths) {
    if (value->isEmpty()) continue;
    log.Line(QString::fromLatin1(key) + QLatin1String(": ") + *value + QLatin1String(" -> ") +
             manager.ExpandAppDir(*value));
  }
}

}  // namespace zinst
