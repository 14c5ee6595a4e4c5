// installer: the setup wizard that lies on the installation medium beside a
// product's files, driven by config.ini in its own directory.
#include <QApplication>

#include "installer/DMsg.h"
#include "installer/FInstall.h"
#include "installer/TZMg.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::unique_ptr<zinst::TZInstallManager> installManager;
  try {
    installManager = std::make_unique<zinst::TZInstallManager>();
  } catch (const zinst::EInstallError& error) {
    // No script and no way to write its template (a read-only medium): say
    // so and stop before the wizard opens.
    zinst::TZDlgMsg(nullptr).ShowMsg(QString::fromUtf8(error.what()), zinst::kMsgOk);
    return 1;
  }
  zinst::TZDlgMsg zDlgMsg;
  zinst::TFrmInstall frmInstall(*installManager, zDlgMsg);
  frmInstall.show();
  return app.exec();
}
