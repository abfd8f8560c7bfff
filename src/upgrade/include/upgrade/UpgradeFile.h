// The upgrade file (".upg"): its CRC-16, its typed records and the Flash and EEProm page
// images cut from it. Free of widgets, so it serves the window, the command line and fuzzing.
#pragma once

#include "base/Exception.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentrop {

// One page image: where it goes and the bytes to write there.
struct TPage {
    int32_t Address = 0;
    QByteArray Data;
};

using PageList = std::vector<TPage>;

// A file whose CRC is right but whose records are not well formed.
class EUpgradeFileError : public Exception {
public:
    using Exception::Exception;
};

// One step of the CRC-16 (polynomial 0x1021, not reflected, no final XOR) on the accumulator.
uint16_t UpdateCrc(uint16_t crc, uint8_t b);
// The CRC-16 of a byte range, from the initial value 0xFFFF.
uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc = 0xFFFF);

// The firmware values a file may set. They live on from file to file: a value that a file
// does not carry keeps what an earlier file set.
struct FirmwareValues {
    QByteArray FFirmwareName;
    QByteArray FFirmwareVersion;
    int32_t FUserNumber = 0;
    int32_t FUserFlag = 0;
};

class UpgradeFile {
public:
    enum class Result { Loaded, CrcError };

    // Body limit of a name, version or page record: the size of the reader's record buffer.
    static constexpr int MaxBody = 512;

    // Empties both page lists, then reads the file. Raises EFOpenError ("Cannot open file
    // "%s". %s") when it cannot be opened and EUpgradeFileError when its records are damaged;
    // in every case but Loaded the page lists stay empty and the firmware values unchanged.
    Result Load(const QString& fileName);
    // The same for a file already in memory.
    Result LoadFromBytes(const QByteArray& file);

    const PageList& FlashPages() const { return FFlashPages; }
    const PageList& EEPromPages() const { return FEEPromPages; }
    const FirmwareValues& Firmware() const { return FFirmware; }
    // True once a user record has been read, so a window knows to show the number.
    bool HasUser() const { return FHasUser; }

    void ClearPages();

private:
    Result Parse(const uint8_t* data, size_t size, uint16_t storedCrc, uint16_t computedCrc);

    PageList FFlashPages;
    PageList FEEPromPages;
    FirmwareValues FFirmware;
    bool FHasUser = false;
};

} // namespace zentrop
