#include "installer/DMsg.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

using zinst::TZDlgMsg;

class TMessageDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void Results_data();
  void Results();
  void KindsSwitchTheButtons();
  void LineBreaksStartNewLines();
  void AutomaticAnswer();
};

void TMessageDialogTest::Results_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("press");  // a button's caption, or "close"
  QTest::addColumn<bool>("okDisabled");
  QTest::addColumn<int>("result");
  QTest::newRow("OK") << 0 << "OK" << false << 1;
  QTest::newRow("Tak") << 1 << "Tak" << false << 6;
  QTest::newRow("Nie") << 1 << "Nie" << false << 7;
  QTest::newRow("close control, kind 0") << 0 << "close" << false << 2;
  QTest::newRow("close control, kind 1") << 1 << "close" << false << 2;
  QTest::newRow("close control while OK is disabled") << 0 << "close" << true << 2;
}

void TMessageDialogTest::Results() {
  QFETCH(int, kind);
  QFETCH(QString, press);
  QFETCH(bool, okDisabled);
  QFETCH(int, result);
  TZDlgMsg dialog;
  dialog.BtnOK->setEnabled(!okDisabled);
  bool shown = false;
  dialog.SetShownHandler([&](TZDlgMsg& d) {
    shown = true;
    QCOMPARE(d.windowTitle(), QStringLiteral("Z-Instalator"));
    QCOMPARE(d.size(), QSize(336, 183));
    if (press == "close") {
      d.close();
      return;
    }
    for (QPushButton* button : {d.BtnOK, d.BtnYes, d.BtnNo}) {
      if (button->text() == press && button->isVisible()) QTest::mouseClick(button, Qt::LeftButton);
    }
  });
  QCOMPARE(dialog.ShowMsg("Komunikat", kind), result);
  QVERIFY(shown);
  QVERIFY(!dialog.isVisible());
}

void TMessageDialogTest::KindsSwitchTheButtons() {
  TZDlgMsg dialog;
  dialog.show();
  auto visible = [&] {
    return QList<bool>{dialog.BtnOK->isVisible(), dialog.BtnYes->isVisible(),
                       dialog.BtnNo->isVisible()};
  };
  dialog.SetKind(1);
  QCOMPARE(visible(), (QList<bool>{false, true, true}));
  dialog.SetKind(2);  // other kinds leave the buttons as they were
  QCOMPARE(visible(), (QList<bool>{false, true, true}));
  QCOMPARE(dialog.Kind, 2);
  dialog.SetKind(0);
  QCOMPARE(visible(), (QList<bool>{true, false, false}));
  QCOMPARE(dialog.BtnNo->geometry(), dialog.BtnOK->geometry());
  QVERIFY(dialog.BtnYes->geometry().right() < dialog.BtnOK->geometry().left());
}

void TMessageDialogTest::LineBreaksStartNewLines() {
  TZDlgMsg dialog;
  dialog.SetMsgText("Został uruchomiony zewnętrzny program.\r\n\r\nWciśnij OK.");
  QCOMPARE(dialog.MemoMsg->document()->blockCount(), 3);
  QCOMPARE(dialog.MemoMsg->document()->findBlockByNumber(1).text(), QString());
  QCOMPARE(dialog.MemoMsg->document()->findBlockByNumber(2).text(), QStringLiteral("Wciśnij OK."));
  QVERIFY(dialog.MemoMsg->isReadOnly());
  QCOMPARE(dialog.MemoMsg->focusPolicy(), Qt::NoFocus);
}

void TMessageDialogTest::AutomaticAnswer() {
  TZDlgMsg dialog;
  dialog.SetAutomaticAnswer(7);
  QCOMPARE(dialog.ShowMsg("Pytanie?", 1), 7);
  QCOMPARE(dialog.MsgText, QStringLiteral("Pytanie?"));
  QCOMPARE(dialog.Kind, 1);
  QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TMessageDialogTest)
#include "DMsg_test.moc"
