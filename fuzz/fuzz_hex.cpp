// Fuzzes the Intel HEX reader and the page cutting behind it: any text gives an image or a
// clear rejection with a line inside the text, and every page that comes out has the page
// size, an address in reach and an upgrade file that reads back to the same pages.
#include "upgrade/UpgradePack.h"

#include <cstdlib>

using namespace zentrop;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const int lines = static_cast<int>(text.count('\n')) + 1;
    HexImage image;
    try {
        image = ReadIntelHex(text);
    } catch (const EHexFileError& e) {
        if (e.Line() < 1 || e.Line() > lines)
            std::abort();
        return 0;
    }
    // A small page size and a base taken from the input exercise the cutting's edges.
    PackLayout layout;
    layout.PageSize = size > 0 ? 1 + data[0] % 64 : 16;
    layout.Base = image.Chunks.empty() ? 0 : image.Chunks.begin()->first & ~uint64_t{0xFF};
    PageList pages;
    try {
        pages = CutPages(image, layout);
    } catch (const EHexFileError& e) {
        if (e.Line() < 1 || e.Line() > lines)
            std::abort();
        return 0;
    }
    for (const TPage& p : pages)
        if (p.Data.size() != layout.PageSize || p.Address < 0 || p.Address > 0xFFFF || p.Address % layout.PageSize != 0)
            std::abort();
    UpgradeContent content;
    content.Flash = pages;
    QByteArray file;
    try {
        file = WriteUpgradeFile(content);
    } catch (const EUpgradeFileError&) {
        return 0; // more pages than records an upgrade file counts
    }
    UpgradeFile back;
    if (back.LoadFromBytes(file) != UpgradeFile::Result::Loaded || back.FlashPages().size() != pages.size())
        std::abort();
    for (size_t i = 0; i < pages.size(); ++i)
        if (back.FlashPages()[i].Address != pages[i].Address || back.FlashPages()[i].Data != pages[i].Data)
            std::abort();
    return 0;
}
