// Read-only file mapping: the language file is read in place, never copied.
#include "MappedFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool TMappedFile::Open(const QString& fileName)
{
    // Non-blocking, so that a FIFO put in the file's place cannot stall the opening.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        FError = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(st.st_mode))
        FError = QStringLiteral("not a regular file");
    else if (st.st_size == 0)
        FError = QStringLiteral("empty file");
    else {
        void* data = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED)
            FError = QString::fromLocal8Bit(std::strerror(errno));
        else {
            FData = data;
            FSize = size_t(st.st_size);
            ok = true;
        }
    }
    ::close(fd);
    return ok;
}

TMappedFile::~TMappedFile()
{
    if (FData)
        ::munmap(FData, FSize);
}
