#include "installer/platform/rtf_reader.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTextCursor>
#include <QTextDocument>
#include <cctype>

#include "installer/platform/text_decoding.h"

namespace zinst {

namespace {

enum class TDestination { Text, FontTable, ColorTable, Skip };

struct TGroupState {
  TDestination Destination = TDestination::Text;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  int HalfPoints = 24;
  int Color = 0;
  int Font = -1;
  int UnicodeSkip = 1;
};

const QSet<QByteArray>& SkippedDestinations() {
  static const QSet<QByteArray> words = {
      "info",
      "stylesheet",
      "pict",
      "header",
      "headerl",
      "headerr",
      "headerf",
      "footer",
      "footerl",
      "footerr",
      "footerf",
      "footnote",
      "fldinst",
      "object",
      "listtable",
      "listoverridetable",
      "rsidtbl",
      "xmlnstbl",
      "generator",
      "themedata",
      "colorschememapping",
      "datastore",
      "latentstyles",
      "pgdsctbl",
      "ftnsep",
      "ftnsepc",
      "aftnsep",
      "aftnsepc",
      "filetbl",
      "revtbl",
      "userprops",
      "bkmkstart",
      "bkmkend",
      "nonshppict",
      "shppict",
      "private",
      "template",
      "mmathPr",
      "wgrffmtfilter",
  };
  return words;
}

class TRtfParser {
 public:
  TRtfParser(const QByteArray& bytes, QTextDocument& document) : Bytes(bytes), Cursor(&document) {}

  void Run() {
    Cursor.document()->clear();
    Cursor = QTextCursor(Cursor.document());
    while (Pos < Bytes.size()) {
      const char c = Bytes[Pos++];
      if (c == '{') {
        Flush();
        Stack.append(State);
      } else if (c == '}') {
        Flush();
        if (State.Destination == TDestination::FontTable && FontDef >= 0) FontDef = -1;
        if (Stack.isEmpty()) break;
        State = Stack.takeLast();
      } else if (c == '\\') {
        ControlSequence();
      } else if (c == '\r' || c == '\n') {
        // Raw line ends are not text in RTF.
      } else {
        Character(QChar(DecodeCodePageByte(static_cast<unsigned char>(c), CurrentCodePage())));
      }
    }
    Flush();
  }

 private:
  int CurrentCodePage() const {
    if (State.Font >= 0 && FontCodePages.contains(State.Font)) return FontCodePages[State.Font];
    return CodePage;
  }

  void Character(QChar c) {
    if (PendingSkip > 0) {
      --PendingSkip;
      return;
    }
    switch (State.Destination) {
      case TDestination::Text:
        Run_ += c;
        break;
      case TDestination::ColorTable:
        if (c == QLatin1Char(';')) {
          Colors.append(ColorSeen ? QColor(Red, Green, Blue) : QColor());
          Red = Green = Blue = 0;
          ColorSeen = false;
        }
        break;
      case TDestination::FontTable:
      case TDestination::Skip:
        break;
    }
  }

  QTextCharFormat CharFormat() const {
    QTextCharFormat format;
    format.setFontWeight(State.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(State.Italic);
    format.setFontUnderline(State.Underline);
    format.setFontPointSize(State.HalfPoints / 2.0);
    if (State.Color > 0 && State.Color < Colors.size() && Colors[State.Color].isValid()) {
      format.setForeground(Colors[State.Color]);
    }
    return format;
  }

  // Text is gathered in runs of one character format.
  void Flush() {
    if (Run_.isEmpty()) return;
    Cursor.insertText(Run_, CharFormat());
    Run_.clear();
  }

  void SetAlignment(Qt::Alignment alignment) {
    Flush();
    Block.setAlignment(alignment);
    Cursor.setBlockFormat(Block);
  }

  void ControlSequence() {
    if (Pos >= Bytes.size()) return;
    const char c = Bytes[Pos];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++Pos;
      ControlSymbol(c);
      return;
    }
    QByteArray word;
    while (Pos < Bytes.size() && std::isalpha(static_cast<unsigned char>(Bytes[Pos]))) {
      word += Bytes[Pos++];
    }
    bool hasParameter = false;
    int parameter = 0;
    bool negative = false;
    if (Pos < Bytes.size() && Bytes[Pos] == '-') {
      negative = true;
      ++Pos;
    }
    qint64 value = 0;
    while (Pos < Bytes.size() && std::isdigit(static_cast<unsigned char>(Bytes[Pos]))) {
      hasParameter = true;
      if (value < 100000000) value = value * 10 + (Bytes[Pos] - '0');
      ++Pos;
    }
    parameter = static_cast<int>(negative ? -value : value);
    if (Pos < Bytes.size() && Bytes[Pos] == ' ') ++Pos;
    ControlWord(word, hasParameter, parameter);
  }

  void ControlSymbol(char c) {
    switch (c) {
      case '\'': {
        if (Pos + 2 > Bytes.size()) return;
        bool ok = false;
        const int byte = QByteArray(Bytes.constData() + Pos, 2).toInt(&ok, 16);
        Pos += 2;
        if (ok) Character(DecodeCodePageByte(static_cast<unsigned char>(byte), CurrentCodePage()));
        return;
      }
      case '*':
        if (State.Destination == TDestination::Text) {
          Flush();
          State.Destination = TDestination::Skip;
        }
        return;
      case '~':
        Character(QChar(0x00A0));
        return;
      case '_':
        Character(QChar(0x2011));
        return;
      case '-':
        return;
      case '\r':
      case '\n':
        Paragraph();
        return;
      default:
        Character(QLatin1Char(c));  // \\ \{ \} and unknown symbols stand for themselves
    }
  }

  void Paragraph() {
    if (State.Destination != TDestination::Text) return;
    Flush();
    Cursor.insertBlock(Block);
  }

  void ControlWord(const QByteArray& word, bool hasParameter, int parameter) {
    const bool on = !hasParameter || parameter != 0;
    if (word == "bin") {
      Pos += qMax(0, parameter);
      return;
    }
    if (word == "fonttbl") {
      State.Destination = TDestination::FontTable;
      return;
    }
    if (word == "colortbl") {
      State.Destination = TDestination::ColorTable;
      return;
    }
    if (SkippedDestinations().contains(word)) {
      Flush();
      State.Destination = TDestination::Skip;
      return;
    }
    if (State.Destination == TDestination::ColorTable) {
      ColorSeen = true;
      if (word == "red") Red = qBound(0, parameter, 255);
      if (word == "green") Green = qBound(0, parameter, 255);
      if (word == "blue") Blue = qBound(0, parameter, 255);
      return;
    }
    if (State.Destination == TDestination::FontTable) {
      if (word == "f") FontDef = parameter;
      if (word == "fcharset" && FontDef >= 0 && parameter == 238) FontCodePages[FontDef] = 1250;
      return;
    }
    if (word == "ansicpg") {
      CodePage = parameter;
    } else if (word == "u") {
      Character(QChar(static_cast<char16_t>(parameter < 0 ? parameter + 65536 : parameter)));
      PendingSkip = State.UnicodeSkip;
    } else if (word == "uc") {
      State.UnicodeSkip = qMax(0, parameter);
    } else if (State.Destination != TDestination::Text) {
      return;
    } else if (word == "par" || word == "sect") {
      Paragraph();
    } else if (word == "line") {
      Character(QChar(QChar::LineSeparator));
    } else if (word == "tab" || word == "cell") {
      Character(QLatin1Char('\t'));
    } else if (word == "row") {
      Paragraph();
    } else if (word == "pard") {
      Flush();
      Block = QTextBlockFormat();
      Cursor.setBlockFormat(Block);
    } else if (word == "ql") {
      SetAlignment(Qt::AlignLeft);
    } else if (word == "qc") {
      SetAlignment(Qt::AlignHCenter);
    } else if (word == "qr") {
      SetAlignment(Qt::AlignRight);
    } else if (word == "qj") {
      SetAlignment(Qt::AlignJustify);
    } else if (word == "plain") {
      Flush();
      const TDestination destination = State.Destination;
      const int skip = State.UnicodeSkip;
      State = TGroupState();
      State.Destination = destination;
      State.UnicodeSkip = skip;
    } else if (word == "b") {
      Flush();
      State.Bold = on;
    } else if (word == "i") {
      Flush();
      State.Italic = on;
    } else if (word == "ul") {
      Flush();
      State.Underline = on;
    } else if (word == "ulnone") {
      Flush();
      State.Underline = false;
    } else if (word == "fs") {
      Flush();
      if (parameter > 0) State.HalfPoints = qMin(parameter, 3000);
    } else if (word == "cf") {
      Flush();
      State.Color = parameter;
    } else if (word == "f") {
      Flush();
      State.Font = parameter;
    } else if (word == "emdash") {
      Character(QChar(0x2014));
    } else if (word == "endash") {
      Character(QChar(0x2013));
    } else if (word == "bullet") {
      Character(QChar(0x2022));
    } else if (word == "lquote") {
      Character(QChar(0x2018));
    } else if (word == "rquote") {
      Character(QChar(0x2019));
    } else if (word == "ldblquote") {
      Character(QChar(0x201C));
    } else if (word == "rdblquote") {
      Character(QChar(0x201D));
    }
  }

  const QByteArray& Bytes;
  qsizetype Pos = 0;
  QTextCursor Cursor;
  QTextBlockFormat Block;
  TGroupState State;
  QList<TGroupState> Stack;
  QString Run_;
  int CodePage = 1250;
  int PendingSkip = 0;
  int FontDef = -1;
  QHash<int, int> FontCodePages;
  QList<QColor> Colors;
  int Red = 0, Green = 0, Blue = 0;
  bool ColorSeen = false;
};

}  // namespace

bool ReadRtf(const QByteArray& bytes, QTextDocument& document) {
  if (!bytes.trimmed().startsWith("{\\rtf")) return false;
  TRtfParser(bytes, document).Run();
  return true;
}

}  // namespace zinst
