#pragma once

#include <QString>
#include <memory>
#include <stdexcept>

#include "installer/platform/ini_file.h"

class QTextDocument;

namespace zinst {

// An error that the installer reports to the user and that ends what it was
// doing: "Unable to write to <path>", "Failed to Load Stream".
class EInstallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

extern const char* const kScriptFileName;  // "config.ini"
extern const char* const kScriptSection;   // "INSTALL_CONFIG"

// Holds the install script's settings for the whole run. The script is the
// file config.ini in the installer's directory; when it is missing, a
// template explaining every key is written there and the run goes on with
// empty settings.
//
// Paths read from the script have their backslashes turned into '/', so a
// script written for Windows reads the same here.
class TZInstallManager final {
 public:
  // appDir is the directory that holds the script and that "<APPDIR>" stands
  // for; it defaults to the executable's directory. Throws EInstallError
  // "Unable to write to <script>" when the template cannot be written.
  explicit TZInstallManager(const QString& appDir = QString());

  void LoadConfig();
  void WriteConfigTemplate();

  // Replaces "<APPDIR>/", "<APPDIR>\" and then "<APPDIR>" with the installer's
  // directory (ending in '/'). The marker is case-sensitive.
  QString ExpandAppDir(const QString& path) const;

  // Empties document, then loads the expanded path into it if the file
  // exists: as rich text when it is RTF, else as plain text (UTF-8 or code
  // page 1250). Returns false, document left empty, for a missing file;
  // throws EInstallError "Failed to Load Stream" for one that cannot be read.
  bool LoadDocument(const QString& path, QTextDocument& document) const;

  const QString& ScriptDir() const { return Dir; }

  std::unique_ptr<TIniFile> IniFile;
  QString ProgName;
  QString ProgDirName;
  QString DefDirName;
  QString FirmAddr;
  QString RunFile;
  QString LicenceFile;
  QString AboutFile;
  QString AuthorsFile;
  QString VerFile;
  QString ImportantFile;
  QString WwwAddr;
  QString ShortcutFileName;
  QString ShortcutDescr;
  QString ShortcutIco;
  bool DestDirDlg = true;
  bool ShortcutDlg = true;

 private:
  QString Dir;
};

// Whether key (any case) is one of the script's sixteen keys.
bool IsScriptKey(const QString& key);

// The base directory of the default destination when the script names none:
// "/opt/" for root, else ~/.local/opt/ (expanded).
QString DefaultProgDirName();

}  // namespace zinst
