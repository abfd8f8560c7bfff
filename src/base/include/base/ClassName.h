// A class's own name as the framework shows it (in messages, as a form's resource name):
// without the project's namespace that the type system puts in front.
#pragma once

#include <QMetaObject>
#include <QString>

namespace zentrop {

inline QString ClassName(const QMetaObject* meta)
{
    const QString name = QString::fromLatin1(meta->className());
    return name.mid(name.lastIndexOf(u':') + 1);
}

} // namespace zentrop
