// Writes a picture of every wizard page and of the message dialog into the
// build directory (screenshots/), for a look at the layout and at the Polish
// letters.
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <QTextEdit>

#include "installer/platform/shell_open.h"
#include "installer/test_support/wizard_fixture.h"

using namespace zinst;
using zinst::test::TWizardFixture;

class TScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(QDir().mkpath(ZINST_SCREENSHOTS)); }
  void EveryPage();
  void MessageDialog();

 private:
  static void Save(QWidget& widget, const QString& name) {
    const QPixmap picture = widget.grab();
    QVERIFY(!picture.isNull());
    QVERIFY(picture.save(QStringLiteral(ZINST_SCREENSHOTS "/") + name + ".png"));
  }
};

void TScreenshotTest::EveryPage() {
  SetDesktopOpener([](const QString&) {});
  TWizardFixture w;
  w.Open({{"important_file", "<APPDIR>about.txt"}, {"ver_file", "<APPDIR>about.txt"}});
  // The window's font must have the Polish letters, or they would show as boxes.
  QVERIFY(!w.Form->Picture->pixmap().isNull());
  QVERIFY(!w.Form->BtnCancel->icon().isNull());
  const QFontMetrics metrics(w.Form->font());
  for (QChar c : QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ")) QVERIFY(metrics.inFont(c));

  const QStringList names{"1-main", "2-licence", "3-destdir", "4-shortcut", "5-summary"};
  for (const QString& name : names) {
    Save(*w.Form, name);
    w.Forward();
  }
  QCOMPARE(w.Page(), int(kPageFinish));
  Save(*w.Form, "6-finish-ok");

  TWizardFixture failing;
  failing.Open({{"run_file", "<APPDIR>nothing"}});
  while (failing.Page() != kPageFinish) failing.Forward();
  Save(*failing.Form, "7-finish-fail");
  SetDesktopOpener({});
}

void TScreenshotTest::MessageDialog() {
  TZDlgMsg dialog;
  dialog.SetShownHandler([](TZDlgMsg& d) {
    Save(d, d.Kind == kMsgOk ? "8-message-ok" : "9-message-yes-no");
    d.close();
  });
  dialog.ShowMsg(
      "Został uruchomiony zewnętrzny program.\r\n\r\nWciśnij OK po zakończeniu jego działania.",
      kMsgOk);
  dialog.ShowMsg("Problemy z dostępem do wskazanego dysku.\r\nSpróbować jeszcze raz?", kMsgYesNo);
  QVERIFY(QFile::exists(ZINST_SCREENSHOTS "/8-message-ok.png"));
  QVERIFY(QFile::exists(ZINST_SCREENSHOTS "/9-message-yes-no.png"));
}

QTEST_MAIN(TScreenshotTest)
#include "screenshots_test.moc"
