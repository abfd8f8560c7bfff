// A regular file mapped read-only into memory, unmapped when the object goes.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace zentrop {

class MappedFile {
public:
    // Maps the file; false, with the reason in Error(), when it is missing, not a regular
    // file, empty or cannot be mapped.
    bool Open(const QString& fileName);
    ~MappedFile();

    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    QByteArrayView Bytes() const { return {static_cast<const char*>(FData), qsizetype(FSize)}; }
    const QString& Error() const { return FError; }

private:
    void* FData = nullptr;
    size_t FSize = 0;
    QString FError;
};

} // namespace zentrop
