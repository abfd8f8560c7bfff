// 8-bit texts of the Windows-1252 code page (the program's stored texts and the names and
// versions in upgrade files) converted to and from Unicode for display.
#pragma once

#include <QByteArray>
#include <QString>

namespace zentrop {

QString DecodeAnsi(const QByteArray& bytes);
// Characters the code page lacks become "?".
QByteArray EncodeAnsi(const QString& text);

} // namespace zentrop
