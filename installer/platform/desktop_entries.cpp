#include "installer/platform/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace zinst {

namespace {

QString Home() { return QFile::decodeName(qgetenv("HOME")); }

QString XdgDir(const char* variable, const QString& homeRelative) {
  const QString value = QFile::decodeName(qgetenv(variable));
  if (value.startsWith(QLatin1Char('/'))) return QDir::cleanPath(value);
  const QString home = Home();
  if (!home.startsWith(QLatin1Char('/'))) return {};
  return QDir::cleanPath(home + QLatin1Char('/') + homeRelative);
}

// The value of XDG_DESKTOP_DIR in user-dirs.dirs, a shell fragment of lines
// XDG_DESKTOP_DIR="$HOME/Desktop".
QString DesktopFromUserDirs() {
  const QString config = ConfigHome();
  if (config.isEmpty()) return {};
  QFile file(config + QLatin1String("/user-dirs.dirs"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  static const QRegularExpression line(
      QStringLiteral("^\\s*XDG_DESKTOP_DIR\\s*=\\s*\"(.*)\"\\s*$"));
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(raw));
    if (!match.hasMatch()) continue;
    QString dir = match.captured(1);
    if (dir.startsWith(QLatin1String("$HOME"))) {
      if (Home().isEmpty()) return {};
      dir.replace(0, 5, Home());
    }
    return dir.startsWith(QLatin1Char('/')) ? QDir::cleanPath(dir) : QString();
  }
  return {};
}

// A string value of a desktop entry: escapes of the entry format.
QString EscapeValue(const QString& value) {
  QString escaped;
  for (QChar c : value) {
    if (c == QLatin1Char('\\')) {
      escaped += QLatin1String("\\\\");
    } else if (c == QLatin1Char('\n')) {
      escaped += QLatin1String("\\n");
    } else if (c == QLatin1Char('\t')) {
      escaped += QLatin1String("\\t");
    } else if (c == QLatin1Char('\r')) {
      escaped += QLatin1String("\\r");
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// One quoted argument of an Exec line, before the string escapes.
QString QuoteExecArgument(const QString& argument) {
  QString quoted = QStringLiteral("\"");
  for (QChar c : argument) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
        c == QLatin1Char('\\')) {
      quoted += QLatin1Char('\\');
    }
    if (c == QLatin1Char('%')) quoted += QLatin1Char('%');
    quoted += c;
  }
  return quoted + QLatin1Char('"');
}

bool WriteTextFile(const QString& path, const QString& text) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = text.toUtf8();
  return file.write(bytes) == bytes.size() && file.commit();
}

QString XmlEscape(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

QString DataHome() { return XdgDir("XDG_DATA_HOME", QStringLiteral(".local/share")); }
QString ConfigHome() { return XdgDir("XDG_CONFIG_HOME", QStringLiteral(".config")); }

QString DesktopDirectory() {
  const QString fromEnvironment = QFile::decodeName(qgetenv("XDG_DESKTOP_DIR"));
  if (fromEnvironment.startsWith(QLatin1Char('/'))) return QDir::cleanPath(fromEnvironment);
  const QString fromUserDirs = DesktopFromUserDirs();
  if (!fromUserDirs.isEmpty()) return fromUserDirs;
  const QString home = Home();
  if (!home.startsWith(QLatin1Char('/'))) return {};
  return QDir::cleanPath(home + QLatin1String("/Desktop"));
}

QString ApplicationsDirectory() {
  const QString data = DataHome();
  return data.isEmpty() ? QString() : data + QLatin1String("/applications");
}

bool WriteDesktopEntry(const QString& target, const QString& icon, const QString& linkFile) {
  QString name = QFileInfo(linkFile).fileName();
  if (name.endsWith(QLatin1String(".desktop"))) name.chop(8);
  QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
  text += QLatin1String("Name=") + EscapeValue(name) + QLatin1Char('\n');
  text += QLatin1String("Exec=") + EscapeValue(QuoteExecArgument(target)) + QLatin1Char('\n');
  text +=
      QLatin1String("Path=") + EscapeValue(QFileInfo(target).absolutePath()) + QLatin1Char('\n');
  if (!icon.isEmpty()) text += QLatin1String("Icon=") + EscapeValue(icon) + QLatin1Char('\n');
  if (!WriteTextFile(linkFile, text)) return false;
  QFile file(linkFile);
  return file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser |
                             QFile::ExeGroup | QFile::ExeOther);
}

QString DesktopFileId(const QString& relativeEntryFile) {
  QString id = relativeEntryFile;
  return id.replace(QLatin1Char('/'), QLatin1Char('-'));
}

QString MenuFileStem(const QStringList& group) {
  static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9_.-]"));
  return QStringLiteral("zinst-") +
         group.join(QLatin1Char('-')).replace(unsafe, QStringLiteral("_"));
}

bool WriteMenuGroup(const QStringList& group, const QStringList& entryFiles) {
  const QString data = DataHome();
  const QString config = ConfigHome();
  if (group.isEmpty() || data.isEmpty() || config.isEmpty()) return false;

  // Menu layout, one <Menu> per group level inside the Applications menu:
  //   <Menu><Name>Applications</Name>
  //     <Menu><Name>Firma</Name><Directory>zinst-Firma.directory</Directory>
  //       <Menu><Name>Edytor</Name><Directory>zinst-Firma-Edytor.directory</Directory>
  //         <Include><Filename>Firma-Edytor-Program.desktop</Filename></Include>
  QString menu =
      QString::fromLatin1(kMenuDoctype) + QStringLiteral("<Menu>\n  <Name>Applications</Name>\n");
  QString indent = QStringLiteral("  ");
  for (qsizetype level = 0; level < group.size(); ++level) {
    const QString stem = MenuFileStem(group.mid(0, level + 1));
    const QString directoryEntry = QStringLiteral("[Desktop Entry]\nType=Directory\nName=") +
                                   EscapeValue(group[level]) + QLatin1Char('\n');
    if (!WriteTextFile(
            data + QLatin1String("/desktop-directories/") + stem + QLatin1String(".directory"),
            directoryEntry)) {
      return false;
    }
    menu += indent + QLatin1String("<Menu>\n");
    indent += QLatin1String("  ");
    menu += indent + QLatin1String("<Name>") + XmlEscape(group[level]) + QLatin1String("</Name>\n");
    menu +=
        indent + QLatin1String("<Directory>") + stem + QLatin1String(".directory</Directory>\n");
  }
  menu += indent + QLatin1String("<Include>\n");
  for (const QString& entry : entryFiles) {
    menu += indent + QLatin1String("  <Filename>") + XmlEscape(DesktopFileId(entry)) +
            QLatin1String("</Filename>\n");
  }
  menu += indent + QLatin1String("</Include>\n");
  for (qsizetype level = group.size(); level > 0; --level) {
    indent.chop(2);
    menu += indent + QLatin1String("</Menu>\n");
  }
  menu += QLatin1String("</Menu>\n");
  return WriteTextFile(config + QLatin1String("/menus/applications-merged/") + MenuFileStem(group) +
                           QLatin1String(".menu"),
                       menu);
}

}  // namespace zinst
