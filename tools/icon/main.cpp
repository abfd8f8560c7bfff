// zentrop-icon: writes the program's icon as a PNG file of a given size, for installing.
#include "icon/AppIcon.h"

#include <QGuiApplication>

#include <cstdio>

using namespace zentrop;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zentrop-icon SIZE OUT.png\n");
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "zentrop-icon: a size of 16 to 1024 pixels, not \"%s\"\n", argv[1]);
        return 2;
    }
    if (!AppIconImage(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "zentrop-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
