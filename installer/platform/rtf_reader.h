#pragma once

#include <QByteArray>

class QTextDocument;

namespace zinst {

// Reads a rich-text (RTF) document into document, replacing its content.
// Understood: paragraphs (\par, \pard, alignment \ql \qc \qr \qj), line breaks
// and tabs, bold, italic, underline, font sizes (\fs, half points), colours
// (\colortbl and \cf), \'xx escapes in the document's code page (\ansicpg,
// 1250 when none is named; a font whose \fcharset is 238 is read as 1250),
// \uN escapes with their \ucN fall-back characters skipped, the usual symbol
// words (\emdash, \bullet, quotes), and \binN data. The font and colour tables
// are read; other destinations (\*, \info, \stylesheet, \pict, headers,
// footers, field instructions and the like) are skipped.
// Returns false, leaving document untouched, when bytes do not begin with "{\rtf".
bool ReadRtf(const QByteArray& bytes, QTextDocument& document);

}  // namespace zinst
