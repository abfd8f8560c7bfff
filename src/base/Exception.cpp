// The exception base: keeps the message both as text and as UTF-8 for what().
#include "base/Exception.h"

#include <utility>

Exception::Exception(QString message)
    : FMessage(std::move(message)), FUtf8(FMessage.toUtf8())
{
}
