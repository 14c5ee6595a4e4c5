#include <QTest>
class TStub : public QObject {
  Q_OBJECT
};
QTEST_MAIN(TStub)
#include "rtf_reader_test.moc"
