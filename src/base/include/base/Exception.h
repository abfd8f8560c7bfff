// The exception base of the whole program and the framework's own error classes.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace zentrop {

class Exception : public std::exception {
public:
    explicit Exception(QString message);

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A text or value that cannot be converted, or a format that does not fit its arguments.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A settings file that cannot be written.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// A registry store that cannot set or get a value.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// An object taken as a class it is not of.
class EInvalidCast : public Exception {
public:
    using Exception::Exception;
};

} // namespace zentrop
