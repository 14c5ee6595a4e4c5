#include "installer/test_support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zinst::test {

namespace {
const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"};
}

TTestHome::TTestHome() {
  for (const char* name : kVariables) {
    Saved.append({name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
  }
  const QByteArray home = QFile::encodeName(Dir.path());
  qputenv("HOME", home);
  qputenv("XDG_DATA_HOME", home + "/.local/share");
  qputenv("XDG_CONFIG_HOME", home + "/.config");
  qputenv("XDG_DESKTOP_DIR", home + "/Desktop");
  QDir().mkpath(Medium());
}

TTestHome::~TTestHome() {
  for (const auto& [name, value] : Saved) {
    if (value.isNull()) {
      qunsetenv(name.constData());
    } else {
      qputenv(name.constData(), value);
    }
  }
}

QString TTestHome::Path(const QString& relative) const {
  return Dir.path() + QLatin1Char('/') + relative;
}

void TTestHome::WriteScript(const QList<QPair<QString, QString>>& keys) const {
  QByteArray text = "[INSTALL_CONFIG]\n";
  for (const auto& [key, value] : keys) text += (key + QLatin1Char('=') + value).toUtf8() + '\n';
  WriteFile(QStringLiteral("medium/config.ini"), text);
}

void TTestHome::WriteFile(const QString& relative, const QByteArray& bytes) const {
  const QString path = Path(relative);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    qFatal("cannot write %s", qPrintable(path));
  }
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace zinst::test

#include <QPushButton>
#include <QTimer>

#include "installer/DMsg.h"

namespace zinst::test {

void InstallFakeSetup(const TTestHome& home, const QString& name) {
  const QString target = home.Medium() + name;
  QFile::remove(target);
  if (!QFile::copy(QStringLiteral(ZINST_FAKE_SETUP), target)) qFatal("cannot copy the fake setup");
}

TOkPresser::TOkPresser(TZDlgMsg& dialog, std::function<void(TZDlgMsg&)> onShown) {
  dialog.SetShownHandler([this, onShown](TZDlgMsg& d) {
    ++Shown;
    LastText = d.MsgText;
    if (onShown) onShown(d);
    if (!d.isVisible()) return;
    auto* poll = new QTimer(&d);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, &d, [this, &d, poll, ticks] {
      if (!d.isVisible()) {
        poll->deleteLater();
      } else if (d.BtnOK->isEnabled()) {
        poll->deleteLater();
        d.BtnOK->click();
      } else {
        OkWasDisabled = true;
        if (++*ticks > 1500) d.close();
      }
    });
    poll->start(20);
  });
}

}  // namespace zinst::test
