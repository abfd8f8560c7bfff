// The language file in force: opening it for one language, the texts of resource strings it
// holds, and the redirect of the process's resource-string loader to it.
#pragma once

#include "lc/MappedFile.h"
#include "lc/PeResources.h"
#include "base/ResStrings.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zentrop {

// Called with each language the file lists, in order, until it returns 0.
using TLcfEnumProc = int32_t (*)(int32_t lcid, void* userData);

// Replaces the resource-string loader while it lives and puts the saved one back when it goes.
class TProc {
public:
    // The slot a loader is installed through; it returns the loader it replaces.
    using LoaderSlot = ResStringLoader (*)(ResStringLoader);

    TProc(LoaderSlot target, ResStringLoader replacement);
    ~TProc();
    TProc(const TProc&) = delete;
    TProc& operator=(const TProc&) = delete;

    ResStringLoader Saved() const { return FSaved; }
    ResStringLoader Replacement() const { return FReplacement; }

private:
    ResStringLoader FSaved;
    LoaderSlot FTarget;
    ResStringLoader FReplacement;
};

class TLcf {
public:
    // The new object becomes CurrentLcf.
    TLcf();
    // Clears CurrentLcf, restores the loader, then unmaps the file.
    ~TLcf();
    TLcf(const TLcf&) = delete;
    TLcf& operator=(const TLcf&) = delete;

    // 1: the file is usable and lists lcid (the first position that does wins); 0: usable
    // but without lcid; -1: not a usable language file.
    int32_t Open(const QString& fileName, int32_t lcid, TLcfEnumProc enumProc, void* userData);

    // The text of a resource string in the chosen language: its size in bytes with text set
    // to its UTF-16LE bytes; the record's negative size when it has no text for the language
    // (also when the record is too short to hold one); 0 with no text when there is no record.
    int32_t FindString(int32_t ident, QByteArrayView* text) const;

    // Installs replacement through target while this object lives.
    void RedirectProc(ResStringLoader replacement, TProc::LoaderSlot target);

    // Pair used in string records (-1 until a language is chosen) and the language's column.
    int32_t StrColumn() const { return FStrColumn; }
    int32_t LangIndex() const { return FLangIndex; }
    // Resource data of type RT_RCDATA by name.
    std::optional<QByteArrayView> FindResource(const QString& name) const;

private:
    int32_t FStrColumn = -1;
    int32_t FLangIndex = -1;
    std::unique_ptr<MappedFile> FModule;
    PeResources FResources;
    std::vector<std::unique_ptr<TProc>> FRedirects;
};

// The language file in force; nullptr while none is.
TLcf* CurrentLcf();

// Leaves the language in force (restoring the loader and unmapping its file), then opens
// fileName for lcid; on 1 the file stays in force and resource strings come from it.
int32_t LcLoadLanguage(const QString& fileName, int32_t lcid, TLcfEnumProc enumProc, void* userData);

// The loader installed while a language is in force: the file's text for the identifier,
// or the program's own when the file has none.
QString LcLoadResString(int ident);

} // namespace zentrop
