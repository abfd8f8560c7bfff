// The program's resource strings: framework texts loaded by identifier through one
// replaceable loader, so that a language file can supply them instead.
#pragma once

#include <QList>
#include <QString>

namespace zentrop {

// Identifiers of the program's own string table.
namespace res {
enum ResId : int {
    SMsgDlgWarning = 65040,
    SMsgDlgError,
    SMsgDlgInformation,
    SMsgDlgConfirm,
    SMsgDlgYes,
    SMsgDlgNo,
    SMsgDlgOK,
    SMsgDlgCancel,
    SFOpenErrorEx,
    SIniFileWriteError,
    SInvalidInteger,
    SInvalidFormat,
    SAssignError,
    SListIndexError,
    SOpenDialogTitle,
    SRegSetDataFailed,
    SRegGetDataFailed,
    SInvalidRegType,
    SInvalidCast,
};
}

// The loader every caller goes through; a replacement receives the identifier and
// returns the text (an empty text when it has none).
using ResStringLoader = QString (*)(int ident);

// Loads a resource string through the loader now in force.
QString LoadResString(int ident);

// The program's own string table; an unknown identifier gives the empty text.
QString LoadBuiltinResString(int ident);

// The identifiers of the program's own string table, in ascending order.
QList<int> BuiltinResStringIds();

// Installs a loader (nullptr restores the built-in one) and returns the one it replaces,
// so that the caller can put it back.
ResStringLoader SetResStringLoader(ResStringLoader loader);

} // namespace zentrop
