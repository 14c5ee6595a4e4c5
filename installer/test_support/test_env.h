#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace zinst::test {

// A temporary home for one test: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and
// XDG_DESKTOP_DIR point into it (their previous values come back when it goes),
// and the installer directory "medium/" inside it holds the script.
class TTestHome final {
 public:
  TTestHome();
  ~TTestHome();
  TTestHome(const TTestHome&) = delete;
  TTestHome& operator=(const TTestHome&) = delete;

  QString Path(const QString& relative = QString()) const;  // below the home
  QString Medium() const { return Path(QStringLiteral("medium/")); }
  QString Desktop() const { return Path(QStringLiteral("Desktop")); }
  QString Applications() const { return Path(QStringLiteral(".local/share/applications")); }

  // Writes medium/config.ini with the section INSTALL_CONFIG and the pairs, in order.
  void WriteScript(const QList<QPair<QString, QString>>& keys) const;
  // Writes a file below the home (directories made as needed).
  void WriteFile(const QString& relative, const QByteArray& bytes) const;

 private:
  QTemporaryDir Dir;
  QList<QPair<QByteArray, QByteArray>> Saved;
};

QByteArray ReadAll(const QString& path);

}  // namespace zinst::test

namespace zinst {
class TZDlgMsg;
}

namespace zinst::test {

// Puts the fake setup program at medium/<name> (executable).
void InstallFakeSetup(const TTestHome& home, const QString& name = QStringLiteral("setup"));

// Answers the message dialog's next displays by pressing OK as soon as it is
// enabled (it may be enabled from outside while the dialog shows). As a
// safety net against a hanging test, the dialog is closed (result 2) after
// about 30 seconds. OkWasDisabled tells whether OK was seen disabled.
struct TOkPresser {
  // onShown runs first each time the dialog has become visible.
  explicit TOkPresser(TZDlgMsg& dialog, std::function<void(TZDlgMsg&)> onShown = {});
  int Shown = 0;
  bool OkWasDisabled = false;
  QString LastText;
};

}  // namespace zinst::test
