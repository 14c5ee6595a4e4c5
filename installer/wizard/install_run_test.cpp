#include <QTest>
class TStub : public QObject {
  Q_OBJECT
};
QTEST_MAIN(TStub)
#include "install_run_test.moc"
