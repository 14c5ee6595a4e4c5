#include <QTest>
class TStub : public QObject {
  Q_OBJECT
};
QTEST_MAIN(TStub)
#include "FInstall_test.moc"
