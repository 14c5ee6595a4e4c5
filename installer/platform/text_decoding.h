#pragma once

#include <QByteArray>
#include <QString>

namespace zinst {

// Windows code page 1250 (Central European), the code page of the product's
// Polish texts. Bytes below 0x80 are ASCII; the five bytes the code page leaves
// undefined map to the control character of the same value, as Windows does.
QString DecodeCp1250(const QByteArray& bytes);

// Windows code page 1252 (Western), which RTF files written on western systems name.
QString DecodeCp1252(const QByteArray& bytes);

// One byte in the given Windows code page; unknown code pages are read as 1250.
QChar DecodeCodePageByte(unsigned char byte, int codePage);

// Scripts and plain-text documents: UTF-8 (a leading byte order mark is dropped)
// when the bytes are valid UTF-8, otherwise code page 1250.
QString DecodeText(const QByteArray& bytes);

}  // namespace zinst
