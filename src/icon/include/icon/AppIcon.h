// The program's icon, drawn rather than stored, so the window and the installed icon files
// come from one source at any size.
#pragma once

#include <QIcon>
#include <QImage>

namespace zentrop {

// The icon at size x size pixels, on a transparent background.
QImage AppIconImage(int size);
// The icon at the sizes window managers ask for.
QIcon AppIcon();

} // namespace zentrop
