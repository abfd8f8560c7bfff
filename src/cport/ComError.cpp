// Error texts of the port engine and the two message forms of its exceptions.
#include "cport/ComError.h"

#include <QtGlobal>

#include <utility>

namespace zentrop {

namespace {

constexpr const char* kTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

constexpr int kTextCount = static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]));

} // namespace

QString ComErrorText(int Code)
{
    if (Code >= 1 && Code <= kTextCount)
        return QString::fromLatin1(kTexts[Code - 1]);
    return QStringLiteral("Unknown Error #") + QString::number(Code);
}

EComPort::EComPort(const QString& PortText, int Code)
    : EComPort(FullMessage{PortText + QStringLiteral(" Error: ") + ComErrorText(Code)}, Code)
{
}

EComPort::EComPort(FullMessage Message, int Code)
    : Exception(std::move(Message.Text)), FCode(Code)
{
}

EComPortExt::EComPortExt(const QString& PortText, int Code, int SystemCode)
    : EComPort(FullMessage{QStringLiteral("COM Port Error: ") + ComErrorText(Code)
                           + QStringLiteral(" on ") + PortText},
               Code),
      FSystemCode(SystemCode)
{
}

QString EComPortExt::SystemText() const
{
    return qt_error_string(FSystemCode);
}

} // namespace zentrop
