#include "installer/platform/ini_file.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <limits>

#include "installer/platform/text_decoding.h"

namespace zinst {

namespace {

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QString text = DecodeText(file.readAll());
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// The section name of a "[name]" line, or a null string for other lines.
QString SectionName(const QString& line) {
  const QString trimmed = line.trimmed();
  if (!trimmed.startsWith(QLatin1Char('['))) return {};
  const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
  if (close < 0) return {};
  QString name = trimmed.mid(1, close - 1).trimmed();
  if (name.isNull()) name = QLatin1String("");
  return name;
}

bool SplitKeyLine(const QString& line, QString* key, QString* value) {
  const QString trimmed = line.trimmed();
  if (trimmed.startsWith(QLatin1Char(';'))) return false;
  const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  *key = trimmed.left(eq).trimmed();
  *value = trimmed.mid(eq + 1).trimmed();
  return true;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

}  // namespace

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  bool inSection = false;
  for (const QString& line : ReadLines(Path)) {
    const QString name = SectionName(line);
    if (!name.isNull()) {
      inSection = SameName(name, section);
      continue;
    }
    QString lineKey, value;
    if (!inSection || !SplitKeyLine(line, &lineKey, &value) || !SameName(lineKey, key)) continue;
    if (value.size() >= 2 &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front()) {
      value = value.mid(1, value.size() - 2);
    }
    return value.left(kMaxValueLength);
  }
  return def.left(kMaxValueLength);
}

QStringList TIniFile::Keys(const QString& section) const {
  QStringList keys;
  bool inSection = false;
  for (const QString& line : ReadLines(Path)) {
    const QString name = SectionName(line);
    if (!name.isNull()) {
      inSection = SameName(name, section);
      continue;
    }
    QString lineKey, value;
    if (!inSection || !SplitKeyLine(line, &lineKey, &value)) continue;
    if (!keys.contains(lineKey, Qt::CaseInsensitive)) keys.append(lineKey);
  }
  return keys;
}

int ParseIniInteger(const QString& text, bool* ok) {
  *ok = false;
  QString digits = text;
  bool negative = false;
  if (digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+'))) {
    negative = digits.front() == QLatin1Char('-');
    digits.remove(0, 1);
  }
  int base = 10;
  if (digits.startsWith(QLatin1Char('$'))) {
    base = 16;
    digits.remove(0, 1);
  } else if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    digits.remove(0, 2);
  }
  if (digits.isEmpty()) return 0;
  for (QChar c : digits) {
    const bool valid = base == 10 ? (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                  : QStringLiteral("0123456789abcdefABCDEF").contains(c);
    if (!valid) return 0;
  }
  bool parsed = false;
  const qlonglong magnitude = digits.toLongLong(&parsed, base);
  if (!parsed) return 0;
  const qlonglong value = negative ? -magnitude : magnitude;
  // Hexadecimal values name bit patterns, so 0xFFFFFFFF is -1 as on Windows.
  if (base == 16 && !negative && value <= 0xFFFFFFFFLL) {
    *ok = true;
    return static_cast<int>(static_cast<quint32>(value));
  }
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return 0;
  *ok = true;
  return static_cast<int>(value);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  bool ok = false;
  const int value = ParseIniInteger(ReadString(section, key, QString()), &ok);
  return ok ? value : def;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) const {
  QStringList lines = ReadLines(Path);
  const QString newLine = key + QLatin1Char('=') + value;
  qsizetype sectionStart = -1;   // index of the section's header line
  qsizetype lastInSection = -1;  // last non-empty line of the section
  bool inSection = false;
  bool done = false;
  for (qsizetype i = 0; i < lines.size() && !done; ++i) {
    const QString name = SectionName(lines[i]);
    if (!name.isNull()) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) sectionStart = lastInSection = i;
      continue;
    }
    if (!inSection) continue;
    if (!lines[i].trimmed().isEmpty()) lastInSection = i;
    QString lineKey, lineValue;
    if (SplitKeyLine(lines[i], &lineKey, &lineValue) && SameName(lineKey, key)) {
      lines[i] = newLine;
      done = true;
    }
  }
  if (!done) {
    if (sectionStart < 0) {
      if (!lines.isEmpty() && !lines.back().trimmed().isEmpty()) lines.append(QString());
      lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
      lines.append(newLine);
    } else {
      lines.insert(lastInSection + 1, newLine);
    }
  }
  QSaveFile file(Path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  if (file.write(bytes) != bytes.size()) return false;
  return file.commit();
}

}  // namespace zinst
