// File names are bytes on Linux, not text: a name from the command line or the file system
// that is not valid UTF-8 is still a name that opens. Such bytes are kept in a QString as the
// lone surrogates U+DC80 to U+DCFF, one per byte, which valid UTF-8 never yields, and turned
// back into the same bytes when the name is opened.
#pragma once

#include <QByteArray>
#include <QString>

namespace zentrop {

QString DecodeFileName(const QByteArray& bytes);
QByteArray EncodeFileName(const QString& name);

} // namespace zentrop
