#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPair>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <memory>

#include "installer/DMsg.h"
#include "installer/FInstall.h"
#include "installer/TZMg.h"
#include "installer/test_support/test_env.h"
#include "installer/widgets/copy_animation.h"
#include "installer/wizard/install_log.h"

namespace zinst::test {

using TKeys = QList<QPair<QString, QString>>;

// A wizard over a script in a temporary home. The standard script installs
// "Edytor" of "Firma" below <home>/apps with the fake setup program.
class TWizardFixture {
 public:
  TKeys StandardKeys() const {
    return {{"prog_name", "Edytor"},
            {"prog_dir_name", Home.Path("apps")},
            {"def_dir_name", "Firma"},
            {"firm_addr", "Firma Przykładowa, ul. Źródlana 1, Łódź"},
            {"www_addr", "http://www.example.com/kor/index.html"},
            {"run_file", "<APPDIR>setup"},
            {"licence_file", "<APPDIR>licencja.rtf"},
            {"about_file", "<APPDIR>\\about.txt"},
            {"authors_file", "<APPDIR>autorzy.txt"},
            {"shortcut_file_name", "edytor"}};
  }

  // Writes the script (StandardKeys with the given keys put over them; a
  // value of "-" removes a key) and the documents, then opens the wizard.
  void Open(const TKeys& changes = {}) {
    TKeys keys = StandardKeys();
    // No structured binding here: Clang 14 cannot capture one in a lambda.
    for (const auto& change : changes) {
      keys.removeIf([&](const auto& pair) { return pair.first == change.first; });
      if (change.second != "-") keys.append(change);
    }
    Home.WriteScript(keys);
    Home.WriteFile("medium/about.txt", "O programie Edytor: zażółć gęślą jaźń.");
    Home.WriteFile("medium/autorzy.txt", "Autorzy: Jan Żółtowski");
    Home.WriteFile("medium/licencja.rtf", ReadAll(QStringLiteral(ZINST_FIXTURES "/licencja.rtf")));
    InstallFakeSetup(Home);
    OpenWizard();
  }

  void OpenWizard() {
    Manager = std::make_unique<TZInstallManager>(Home.Medium());
    Form = std::make_unique<TFrmInstall>(*Manager, Dialog, Log);
    Form->show();
  }

  int Page() const { return Form->InstallPages->currentIndex(); }
  void Next() { Form->BtnNext->click(); }
  void Back() { Form->BtnPrev->click(); }
  // Clicks Next, ticking the licence first when on its page.
  void Forward() {
    if (Page() == kPageLicence && !Form->CBAccept->isChecked()) Form->CBAccept->click();
    Next();
  }
  QString Destination() const { return Home.Path("apps/Firma/Edytor"); }

  TTestHome Home;
  TZDlgMsg Dialog;
  TInstallLog* Log = nullptr;  // the install log handed to the wizard, if any
  std::unique_ptr<TZInstallManager> Manager;
  std::unique_ptr<TFrmInstall> Form;
};

}  // namespace zinst::test
