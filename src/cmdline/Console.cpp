// Console output that ignores a failed stream, and the style of standard error.
#include "cmdline/Console.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace zentrop {

void ConsolePrintf(FILE* out, const char* format, ...)
{
    if (!out || std::ferror(out))
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

ConsoleStyle ConsoleStyle::Of(FILE* out)
{
    const char* term = std::getenv("TERM");
    const char* noColor = std::getenv("NO_COLOR");
    ConsoleStyle style;
    style.Redraw = isatty(fileno(out)) == 1 && !(term && std::strcmp(term, "dumb") == 0);
    style.Color = style.Redraw && !(noColor && *noColor);
    return style;
}

} // namespace zentrop
