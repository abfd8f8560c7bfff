// Sample upgrade files for the demo and the benchmark: a name, a version, a user number and
// Flash and EEProm pages of pseudo-random bytes at consecutive addresses.
#pragma once

#include "testsupport/UpgradeFileBuilder.h"

#include <QByteArray>

namespace zentrop {

namespace sample {

struct Layout {
    int FlashPages = 16;
    int FlashPageSize = 256;
    int EEPromPages = 8;
    int EEPromPageSize = 32;
};

inline QByteArray PageBytes(int size, uint32_t& seed)
{
    QByteArray data(size, '\0');
    for (char& c : data) {
        seed = seed * 1664525u + 1013904223u; // a fixed sequence, so files are reproducible
        c = static_cast<char>(seed >> 24);
    }
    return data;
}

inline QByteArray UpgradeFileBytes(const Layout& layout)
{
    uint32_t seed = 0x5EED;
    upgtest::Builder b;
    b.Name("Zentrop sample firmware").Version("1.0.0").User(1, 42);
    b.Flash();
    for (int i = 0; i < layout.FlashPages; ++i)
        b.Page(i * layout.FlashPageSize, PageBytes(layout.FlashPageSize, seed));
    b.EEProm();
    for (int i = 0; i < layout.EEPromPages; ++i)
        b.Page(i * layout.EEPromPageSize, PageBytes(layout.EEPromPageSize, seed));
    return b.Bytes();
}

} // namespace sample

} // namespace zentrop
