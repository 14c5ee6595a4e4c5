#include "installer/platform/shell_open.h"

#include <QProcess>

namespace zinst {

namespace {

std::function<void(const QString&)>& Opener() {
  static std::function<void(const QString&)> opener;
  return opener;
}

}  // namespace

void OpenWithDesktop(const QString& target) {
  if (Opener()) {
    Opener()(target);
    return;
  }
  QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

void SetDesktopOpener(std::function<void(const QString&)> opener) { Opener() = std::move(opener); }

}  // namespace zinst
