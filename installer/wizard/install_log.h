#pragma once

#include <QFile>
#include <QString>

namespace zinst {

class TZInstallManager;

// The install log asked for with --log=FILE. Format: UTF-8 text, one line per
// step of the run, each line
//   yyyy-MM-dd HH:mm:ss  <text>\n
// with the local date and time and two blanks before the text. The file is
// created (or emptied) when the log is opened and each line is written through
// at once, so a run that ends abruptly keeps the lines up to its last step.
//
// A log that is not open writes nothing: without --log the installer's file
// actions stay the run file's copy and the shortcuts.
class TInstallLog final {
 public:
  TInstallLog() = default;
  TInstallLog(const TInstallLog&) = delete;
  TInstallLog& operator=(const TInstallLog&) = delete;

  // Creates or empties path. Returns false, the log staying closed, when the
  // file cannot be written.
  bool Open(const QString& path);
  bool IsOpen() const { return File.isOpen(); }
  void Line(const QString& text);

 private:
  QFile File;
};

// The script's lines: its path, the keys found in INSTALL_CONFIG (unknown ones
// named apart, as they are likely misspelt), the two flags, and each path key
// that is set with its expanded value.
void LogScript(TInstallLog& log, const TZInstallManager& manager);

}  // namespace zinst
