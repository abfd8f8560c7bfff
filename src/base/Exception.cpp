// The exception base: keeps the message both as text and as UTF-8 for what().
#include "base/Exception.h"

#include <utility>

namespace zentrop {

Exception::Exception(QString message)
    : FMessage(std::move(message)), FUtf8(FMessage.toUtf8())
{
}

} // namespace zentrop
