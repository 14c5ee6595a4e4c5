#pragma once

#include <QString>
#include <QStringList>

namespace zinst {

// An initialisation file read and written with the rules of the Windows
// profile-string service that install scripts are written for:
// - lines "[section]" open a section, lines "key=value" hold values; other
//   lines (comments starting with ';' among them) are ignored;
// - section and key names are compared without regard to case; the first
//   matching key of the first matching section wins;
// - values are trimmed, one pair of enclosing quotes ('' or "") is removed,
//   and at most kMaxValueLength characters are returned;
// - the file is decoded as UTF-8 when valid, else as code page 1250, and is
//   always written as UTF-8;
// - writing replaces an existing key in place, appends a new key to the end of
//   its section and a new section to the end of the file.
// The file is read on every call and rewritten on every write, so no state is
// held besides the path.
class TIniFile final {
 public:
  // A value is read into a buffer of 2048 characters including its terminator.
  static constexpr int kMaxValueLength = 2047;

  explicit TIniFile(QString path) : Path(std::move(path)) {}

  const QString& FileName() const { return Path; }

  QString ReadString(const QString& section, const QString& key, const QString& def) const;

  // Signed decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives def.
  int ReadInteger(const QString& section, const QString& key, int def) const;

  // The keys present in section, in file order, each once (first spelling);
  // empty when the file or the section is missing.
  QStringList Keys(const QString& section) const;

  // Returns false when the file cannot be written.
  bool WriteString(const QString& section, const QString& key, const QString& value) const;

 private:
  QString Path;
};

// The integer rule of ReadInteger applied to a text; nullopt-like: ok is false
// when the text is not a number that fits 32 bits.
int ParseIniInteger(const QString& text, bool* ok);

}  // namespace zinst
