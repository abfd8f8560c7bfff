// The port's exceptions and the table of their error texts.
#pragma once

#include "base/Exception.h"

#include <QString>

namespace zentrop {

// Error codes of the port engine; ComErrorText gives their texts.
namespace ComErr {
enum : int {
    OpenFailed = 1,
    WriteFailed = 2,
    ReadFailed = 3,
    InvalidAsync = 4,
    PurgeFailed = 5,
    AsyncCheck = 6,
    SetStateFailed = 7,
    SetTimeoutsFailed = 8,
    SetupCommFailed = 9,
    ClearComFailed = 10,
    ModemStatFailed = 11,
    EscapeComFailed = 12,
    TransmitFailed = 13,
    ConnChangeProp = 14,
    EnumPortsFailed = 15,
    StoreFailed = 16,
    LoadFailed = 17,
    RegFailed = 18,
    LedStateFailed = 19,
    ThreadCreated = 20,
    WaitFailed = 21,
    HasLink = 22,
    RegError = 23,
};
}

// The text of an error code; a code outside the table gives "Unknown Error #" and the code.
QString ComErrorText(int Code);

// A port failure: "<port> Error: <text>".
class EComPort : public Exception {
public:
    EComPort(const QString& PortText, int Code);

    int Code() const noexcept { return FCode; }

protected:
    // For a derived class that words its message differently.
    struct FullMessage {
        QString Text;
    };
    EComPort(FullMessage Message, int Code);

private:
    int FCode;
};

// A failed system call: "COM Port Error: <text> on <port>". The system's error code is kept
// (not shown in the message), and so is the system's text for it.
class EComPortExt : public EComPort {
public:
    EComPortExt(const QString& PortText, int Code, int SystemCode);

    int SystemCode() const noexcept { return FSystemCode; }
    QString SystemText() const;

private:
    int FSystemCode;
};

} // namespace zentrop
