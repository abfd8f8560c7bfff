// The built-in string table and the replaceable loader in front of it.
#include "base/ResStrings.h"

#include <algorithm>
#include <atomic>

namespace zentrop {

namespace {

struct Entry {
    int ident;
    const char* text;
};

constexpr Entry kTable[] = {
    {res::SMsgDlgWarning, "Warning"},
    {res::SMsgDlgError, "Error"},
    {res::SMsgDlgInformation, "Information"},
    {res::SMsgDlgConfirm, "Confirm"},
    {res::SMsgDlgYes, "&Yes"},
    {res::SMsgDlgNo, "&No"},
    {res::SMsgDlgOK, "OK"},
    {res::SMsgDlgCancel, "Cancel"},
    {res::SFOpenErrorEx, "Cannot open file \"%s\". %s"},
    {res::SIniFileWriteError, "Unable to write to %s"},
    {res::SInvalidInteger, "'%s' is not a valid integer value"},
    {res::SInvalidFormat, "Format '%s' invalid or incompatible with argument"},
    {res::SAssignError, "Cannot assign a %s to a %s"},
    {res::SListIndexError, "List index out of bounds (%d)"},
    {res::SOpenDialogTitle, "Open"},
    {res::SRegSetDataFailed, "Failed to set data for '%s'"},
    {res::SRegGetDataFailed, "Failed to get data for '%s'"},
    {res::SInvalidRegType, "Invalid data type for '%s'"},
    {res::SInvalidCast, "Invalid class typecast"},
};

std::atomic<ResStringLoader> gLoader{nullptr};

} // namespace

QString LoadBuiltinResString(int ident)
{
    for (const Entry& e : kTable)
        if (e.ident == ident)
            return QString::fromUtf8(e.text);
    return {};
}

QList<int> BuiltinResStringIds()
{
    QList<int> ids;
    for (const Entry& e : kTable)
        ids.append(e.ident);
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString LoadResString(int ident)
{
    const ResStringLoader loader = gLoader.load();
    return loader ? loader(ident) : LoadBuiltinResString(ident);
}

ResStringLoader SetResStringLoader(ResStringLoader loader)
{
    ResStringLoader previous = gLoader.exchange(loader);
    return previous ? previous : &LoadBuiltinResString;
}

} // namespace zentrop
