// Builds upgrade files record by record for tests, the simulator demo and fuzz seeds.
#pragma once

#include "upgrade/UpgradeFile.h"

#include <QByteArray>
#include <optional>

namespace zentrop {

namespace upgtest {

class Builder {
public:
    Builder& Raw(int type, const QByteArray& body, std::optional<int> length = std::nullopt)
    {
        const int len = length ? *length : static_cast<int>(body.size()) + 1;
        FRecords += static_cast<char>(len & 0xFF);
        FRecords += static_cast<char>((len >> 8) & 0xFF);
        FRecords += static_cast<char>(type);
        FRecords += body;
        ++FCount;
        return *this;
    }
    Builder& Name(const QByteArray& s) { return Raw(1, s); }
    Builder& Version(const QByteArray& s) { return Raw(2, s); }
    Builder& User(int flag, int32_t number, std::optional<int> length = std::nullopt)
    {
        QByteArray b;
        b += static_cast<char>(flag);
        for (int i = 0; i < 4; ++i)
            b += static_cast<char>((static_cast<uint32_t>(number) >> (8 * i)) & 0xFF);
        return Raw(3, b, length ? length : 6);
    }
    Builder& Flash() { return Raw(4, QByteArray()); }
    Builder& EEProm() { return Raw(5, QByteArray()); }
    Builder& Page(int address, const QByteArray& data)
    {
        QByteArray b;
        b += static_cast<char>(address & 0xFF);
        b += static_cast<char>((address >> 8) & 0xFF);
        return Raw(6, b + data);
    }
    // Overrides the record count written at the start.
    Builder& Count(int n)
    {
        FCountOverride = n;
        return *this;
    }
    Builder& Trailer(const QByteArray& bytes)
    {
        FTrailer += bytes;
        return *this;
    }

    QByteArray Bytes() const
    {
        const int n = FCountOverride ? *FCountOverride : FCount;
        QByteArray body;
        body += static_cast<char>(n & 0xFF);
        body += static_cast<char>((n >> 8) & 0xFF);
        return WithCrc(body + FRecords + FTrailer);
    }

    // Appends the CRC, low byte first.
    static QByteArray WithCrc(QByteArray body)
    {
        const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(body.constData()), static_cast<size_t>(body.size()));
        body += static_cast<char>(crc & 0xFF);
        body += static_cast<char>(crc >> 8);
        return body;
    }

private:
    QByteArray FRecords;
    QByteArray FTrailer;
    int FCount = 0;
    std::optional<int> FCountOverride;
};

} // namespace upgtest

} // namespace zentrop
