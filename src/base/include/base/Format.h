// Text formatting with the platform routine's rules: %s, %d, %u, %x and %X with an optional
// "-" flag, width and precision; a width pads with blanks (never zeros) and hexadecimal
// digits are always upper case.
#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <variant>

namespace zentrop {

class FormatArg {
public:
    FormatArg(int v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(long long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(const QString& v) : FValue(v) {}
    FormatArg(const char* v) : FValue(QString::fromUtf8(v)) {}

    bool IsInteger() const { return std::holds_alternative<int64_t>(FValue); }
    int64_t Integer() const { return std::get<int64_t>(FValue); }
    const QString& Text() const { return std::get<QString>(FValue); }

private:
    std::variant<int64_t, QString> FValue;
};

// Formats; a directive without a fitting argument raises EConvertError
// ("Format '%s' invalid or incompatible with argument").
QString Format(const QString& format, std::initializer_list<FormatArg> args);

} // namespace zentrop
