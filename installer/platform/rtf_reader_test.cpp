#include "installer/platform/rtf_reader.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "installer/TZMg.h"
#include "installer/test_support/test_env.h"

namespace {

// The document as text with its formatting as tags: <b>, <i>, <u>, <#rrggbb>
// for a colour, <pt N> for a size other than 12 points; paragraphs on lines.
QString Dump(const QTextDocument& document) {
  QStringList blocks;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    QString text;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat f = fragment.charFormat();
      QString open, close;
      auto tag = [&](bool on, const QString& name) {
        if (!on) return;
        open += "<" + name + ">";
        close = "</" + name.section(' ', 0, 0) + ">" + close;
      };
      tag(f.fontWeight() == QFont::Bold, "b");
      tag(f.fontItalic(), "i");
      tag(f.fontUnderline(), "u");
      tag(f.foreground().style() != Qt::NoBrush, f.foreground().color().name());
      tag(f.fontPointSize() != 12, "pt " + QString::number(f.fontPointSize()));
      text += open + fragment.text() + close;
    }
    blocks << text;
  }
  while (!blocks.isEmpty() && blocks.back().isEmpty()) blocks.removeLast();
  return blocks.join('\n');
}

}  // namespace

class TDocumentTest : public QObject {
  Q_OBJECT

 private slots:
  void WordProcessorDocument();
  void Rtf_data();
  void Rtf();
  void NotRtf();
};

void TDocumentTest::WordProcessorDocument() {
  zinst::test::TTestHome home;
  home.WriteScript({{"licence_file", QStringLiteral(ZINST_FIXTURES "/licencja.rtf")}});
  zinst::TZInstallManager manager(home.Medium());
  QTextDocument document;
  QVERIFY(manager.LoadDocument(manager.LicenceFile, document));
  QCOMPARE(Dump(document),
           QStringLiteral("<b><pt 18>Licencja programu</pt></b>\n"
                          "Ten program jest <b>chroniony prawem autorskim</b>. Użytkownik "
                          "<i>może</i> zainstalować go na jednym komputerze.\n"
                          "Zażółć gęślą jaźń — <b>ŻÓŁTA ŁÓDŹ</b> i <i>źrebię</i>."));
}

void TDocumentTest::Rtf_data() {
  QTest::addColumn<QByteArray>("rtf");
  QTest::addColumn<QString>("dump");
  QTest::newRow("\\'xx in code page 1250 when none is named")
      << QByteArray("{\\rtf1 Za\\'bf\\'f3\\'b3\\'e6 \\'a3\\'f3d\\'9f}") << "Zażółć Łódź";
  QTest::newRow("\\ansicpg1252") << QByteArray("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}") << "café";
  QTest::newRow("font with charset 238 in a 1252 document")
      << QByteArray("{\\rtf1\\ansicpg1252{\\fonttbl{\\f1\\fcharset238 Arial;}}\\f1 \\'b9}") << "ą";
  QTest::newRow("\\u with fall-back characters skipped")
      << QByteArray("{\\rtf1\\uc2 \\u322\\'6c\\'6c a\\uc0\\u261 b}") << "ł aąb";
  QTest::newRow("skipped destinations")
      << QByteArray(
             "{\\rtf1{\\info{\\title T}}{\\*\\generator G;}{\\stylesheet{S;}}"
             "{\\pict\\pngblip 89504e47}x}")
      << "x";
  QTest::newRow("paragraphs, line break, tab")
      << QByteArray("{\\rtf1 one\\par two\\line three\\tab four\\par}")
      << QString("one\ntwo") + QChar(QChar::LineSeparator) + "three\tfour";
  QTest::newRow("bold off, underline, groups restore")
      << QByteArray("{\\rtf1\\b B\\b0  n {\\ul U}\\i I\\plain  p}")
      << "<b>B</b> n <u>U</u><i>I</i> p";
  QTest::newRow("colour and size")
      << QByteArray("{\\rtf1{\\colortbl;\\red128\\green0\\blue0;}{\\cf1 red}\\fs32 big}")
      << "<#800000>red</#800000><pt 16>big</pt>";
  QTest::newRow("escaped symbols") << QByteArray("{\\rtf1 \\{a\\}\\\\\\~b\\emdash c\\bullet}")
                                   << QString("{a}\\") + QChar(0xA0) + "b—c•";
  QTest::newRow("\\bin data skipped") << QByteArray("{\\rtf1 a\\bin3 }}}b}") << "ab";
}

void TDocumentTest::Rtf() {
  QFETCH(QByteArray, rtf);
  QFETCH(QString, dump);
  QTextDocument document;
  QVERIFY(zinst::ReadRtf(rtf, document));
  QCOMPARE(Dump(document), dump);
}

void TDocumentTest::NotRtf() {
  QTextDocument document;
  document.setPlainText("kept");
  QVERIFY(!zinst::ReadRtf("plain {\\rtf1 later}", document));
  QCOMPARE(document.toPlainText(), QStringLiteral("kept"));

  zinst::test::TTestHome home;
  home.WriteScript({{"about_file", "<APPDIR>about.txt"}});
  home.WriteFile("medium/about.txt", "{\\b not rtf} \xc5\xbc\xc3\xb3\xc5\x82w");  // UTF-8
  zinst::TZInstallManager manager(home.Medium());
  QVERIFY(manager.LoadDocument(manager.AboutFile, document));
  QCOMPARE(document.toPlainText(), QStringLiteral("{\\b not rtf} żółw"));
}

QTEST_MAIN(TDocumentTest)
#include "rtf_reader_test.moc"
