// Fuzzes the upgrade file reader: any bytes give pages, a CRC error or a clear rejection, and
// every accepted page lies within the file and the body limit.
#include "upgrade/UpgradeFile.h"

#include <cstdlib>

using namespace zentrop;

namespace {

// Appends the right CRC so that the record parser, not only the CRC check, sees the input.
QByteArray WithCrc(const uint8_t* data, size_t size)
{
    QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const uint16_t crc = Crc16(data, size);
    file += static_cast<char>(crc & 0xFF);
    file += static_cast<char>(crc >> 8);
    return file;
}

void Check(const UpgradeFile& f, size_t fileSize)
{
    size_t total = 0;
    for (const PageList* list : {&f.FlashPages(), &f.EEPromPages()})
        for (const TPage& p : *list) {
            if (p.Address < 0 || p.Address > 0xFFFF || p.Data.size() > UpgradeFile::MaxBody)
                std::abort();
            total += static_cast<size_t>(p.Data.size());
        }
    if (total > fileSize)
        std::abort();
}

void Run(const QByteArray& file)
{
    UpgradeFile f;
    try {
        if (f.LoadFromBytes(file) == UpgradeFile::Result::Loaded)
            Check(f, static_cast<size_t>(file.size()));
        else if (!f.FlashPages().empty() || !f.EEPromPages().empty())
            std::abort();
    } catch (const EUpgradeFileError&) {
        if (!f.FlashPages().empty() || !f.EEPromPages().empty())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Run(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    Run(WithCrc(data, size));
    return 0;
}
