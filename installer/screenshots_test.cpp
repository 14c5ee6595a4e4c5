#include <QTest>
class TStub : public QObject {
  Q_OBJECT
};
QTEST_MAIN(TStub)
#include "screenshots_test.moc"
