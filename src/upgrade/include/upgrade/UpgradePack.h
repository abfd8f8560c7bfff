// Making an upgrade file from a build's memory image: the image cut into pages of the
// device's page size, erased pages left out, and the records written with their CRC.
#pragma once

#include "upgrade/HexFile.h"
#include "upgrade/UpgradeFile.h"

#include <optional>

namespace zentrop {

// The byte of erased Flash and EEProm; gaps within a page are filled with it.
constexpr char kErasedByte = static_cast<char>(0xFF);
// A page record holds a 16-bit address, so no page of an upgrade file lies beyond it.
constexpr uint64_t kHighestPageAddress = 0xFFFF;

struct PackLayout {
    int PageSize = 256;
    // The device address that page address 0 stands for.
    uint64_t Base = 0;
    // Keep pages whose every byte is erased.
    bool KeepBlank = false;
};

// A raw binary image with its first byte at the given address.
HexImage BinaryImage(const QByteArray& bytes, uint64_t address);

// Raises EHexFileError naming the line when data of this size at this address lies below the
// base or beyond the highest page address. Given the lowest address of the image's data, a
// refusal with the base left at 0 suggests the base that would take the image.
void CheckPageReach(uint64_t address, qsizetype size, int line, const PackLayout& layout,
                    std::optional<uint64_t> lowest = std::nullopt);

// Cuts the image into pages at multiples of the page size from the base, each filled up to
// the whole page with erased bytes. Raises EHexFileError naming the line of the first data
// that lies below the base or beyond the highest page address. The page size must be 1 to
// UpgradeFile::MaxBody.
PageList CutPages(const HexImage& image, const PackLayout& layout);

struct UpgradeContent {
    QByteArray Name;
    QByteArray Version;
    std::optional<int32_t> User;
    PageList Flash;
    std::optional<PageList> EEProm;
};

// The upgrade file's bytes: name, version, user, the Flash section and its pages, the EEProm
// section and its pages, and the CRC. Raises EUpgradeFileError when the content does not fit
// the format (more than 65535 records, a text or page over the body limit).
QByteArray WriteUpgradeFile(const UpgradeContent& content);

} // namespace zentrop
