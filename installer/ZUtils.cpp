#include "installer/ZUtils.h"

#include <QCoreApplication>

#include "installer/platform/desktop_entries.h"
#include "installer/platform/process_runner.h"
#include "installer/platform/shell_open.h"

namespace zinst {

QString AppDir() { return IncludeTrailingSlash(QCoreApplication::applicationDirPath()); }

QString IncludeTrailingSlash(const QString& text) {
  return text.endsWith(QLatin1Char('/')) ? text : text + QLatin1Char('/');
}

QString ReplaceFirst(const QString& replacement, const QString& pattern, const QString& text) {
  const qsizetype at = pattern.isEmpty() ? -1 : text.indexOf(pattern, 0, Qt::CaseSensitive);
  if (at < 0) return text;
  QString result = text;
  return result.replace(at, pattern.size(), replacement);
}

QString ReplaceAll(const QString& replacement, const QString& pattern, const QString& text) {
  // On Linux a directory name may hold the pattern itself ("<APPDIR>" is a
  // valid name); replacing again and again would then never end, so such a
  // replacement is made in one pass over the original occurrences.
  if (!pattern.isEmpty() && replacement.contains(pattern)) {
    QString result = text;
    return result.replace(pattern, replacement, Qt::CaseSensitive);
  }
  QString current = text;
  for (;;) {
    QString next = ReplaceFirst(replacement, pattern, current);
    if (next == current) return current;
    current = std::move(next);
  }
}

QString GetSpecialFolder(int folder) {
  QString path;
  if (folder == kFolderDesktop) path = DesktopDirectory();
  if (folder == kFolderPrograms) path = ApplicationsDirectory();
  return path.isEmpty() ? QString() : IncludeTrailingSlash(path);
}

void ShellOpen(const QString& file, const QString&, const QString&, int) { OpenWithDesktop(file); }

int ExecAndWait(const QString& program, const QStringList& arguments, int, int waitSlice) {
  return RunAndWait(program, arguments, waitSlice, false);
}

void SplitString(QStringList& list, const QString& text, const QString& dividers) {
  list.clear();
  if (text.isEmpty()) return;
  QString item;
  for (QChar c : text) {
    if (dividers.contains(c)) {
      list.append(item);
      item.clear();
    } else {
      item += c;
    }
  }
  list.append(item);
}

QString UpperAZ(const QString& text) {
  QString result = text;
  for (QChar& c : result) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  }
  return result;
}

}  // namespace zinst
