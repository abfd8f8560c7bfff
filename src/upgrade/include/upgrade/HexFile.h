// Intel HEX files as toolchains write them: data, end-of-file, extended segment and extended
// linear address records, and the start-address records, which carry nothing to write.
#pragma once

#include "base/Exception.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>

namespace zentrop {

// A record that cannot be read, with the line it stands on (counted from 1).
class EHexFileError : public Exception {
public:
    EHexFileError(int line, const QString& reason);
    int Line() const { return FLine; }
    const QString& Reason() const { return FReason; }

private:
    int FLine;
    QString FReason;
};

// The bytes of one data record where they lie in memory, and the line they came from, so
// that a later check can still name it.
struct HexChunk {
    QByteArray Data;
    int Line = 0;
};

struct HexImage {
    // By absolute address; no two chunks overlap.
    std::map<uint64_t, HexChunk> Chunks;
    // Things read but not used, such as a start address, by line.
    std::map<int, QString> Notes;
};

// Called with every data record's absolute address, length and line before it is kept; raises
// EHexFileError to refuse it, so that a file whose data cannot be used ends at its first
// such record instead of after the whole file was read.
using HexDataCheck = std::function<void(uint64_t address, qsizetype size, int line)>;

// Reads the text of an Intel HEX file. Raises EHexFileError on the first record that is
// malformed, has a wrong checksum, overlaps earlier data, fails the check or follows the
// end-of-file record, and when the end-of-file record is missing.
HexImage ReadIntelHex(const QByteArray& text, const HexDataCheck& check = {});

} // namespace zentrop
