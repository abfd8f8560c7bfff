// The current language file, its string lookups and the loader redirect, undone at process end
// before the file is unmapped.
#include "lc/LcUnit.h"

#include "lc/LcfFormat.h"

#include <atomic>

namespace zentrop {

namespace {

std::atomic<TLcf*> gCurrentLcf{nullptr};

// Identifiers of the program's string table fit in 16 bits; anything else is not looked up.
constexpr int kStringTableLimit = 0x10000;

// At process end the language in force is left, so that nothing reads the file after it is
// unmapped.
struct Finalization {
    ~Finalization() { delete gCurrentLcf.load(); }
} gFinalization;

} // namespace

TProc::TProc(LoaderSlot target, ResStringLoader replacement)
    : FSaved(target(replacement)), FTarget(target), FReplacement(replacement)
{
}

TProc::~TProc()
{
    FTarget(FSaved);
}

TLcf::TLcf()
{
    gCurrentLcf.store(this);
}

TLcf::~TLcf()
{
    TLcf* self = this;
    gCurrentLcf.compare_exchange_strong(self, nullptr);
    FRedirects.clear();
    FModule.reset();
}

int32_t TLcf::Open(const QString& fileName, int32_t lcid, TLcfEnumProc enumProc, void* userData)
{
    FModule = std::make_unique<MappedFile>();
    if (!FModule->Open(fileName) || !FResources.Load(FModule->Bytes())) {
        FModule.reset();
        return -1;
    }
    const auto resource = FindResource(lcf::HeaderName);
    if (!resource)
        return -1;
    const auto header = lcf::ReadHeader(*resource);
    if (!header)
        return -1;
    FStrColumn = -1;
    if (enumProc)
        for (int32_t language : header->Languages)
            if (enumProc(language, userData) == 0)
                break;
    const qsizetype position = header->Languages.indexOf(lcid);
    if (position < 0)
        return 0;
    FStrColumn = int32_t(position);
    FLangIndex = int32_t(position);
    if (header->Flags & lcf::FlagLeadingPair)
        ++FStrColumn;
    return 1;
}

std::optional<QByteArrayView> TLcf::FindResource(const QString& name) const
{
    if (!FModule)
        return std::nullopt;
    return FResources.Find(PeResources::RT_RCDATA, name);
}

int32_t TLcf::FindString(int32_t ident, QByteArrayView* text) const
{
    *text = {};
    const auto record = FindResource(QString::number(ident));
    if (!record)
        return 0;
    return lcf::ReadPair(*record, 0, 8 * int64_t(FStrColumn), text);
}

void TLcf::RedirectProc(ResStringLoader replacement, TProc::LoaderSlot target)
{
    if (replacement && target)
        FRedirects.push_back(std::make_unique<TProc>(target, replacement));
}

TLcf* CurrentLcf()
{
    return gCurrentLcf.load();
}

int32_t LcLoadLanguage(const QString& fileName, int32_t lcid, TLcfEnumProc enumProc, void* userData)
{
    delete gCurrentLcf.load();
    auto* lcf = new TLcf;
    const int32_t result = lcf->Open(fileName, lcid, enumProc, userData);
    if (result >= 1)
        lcf->RedirectProc(&LcLoadResString, &SetResStringLoader);
    else
        delete lcf;
    return result;
}

QString LcLoadResString(int ident)
{
    const TLcf* lcf = gCurrentLcf.load();
    if (lcf && ident >= 0 && ident < kStringTableLimit) {
        QByteArrayView text;
        if (lcf->FindString(ident, &text) >= 0 && text.data())
            return lcf::DecodeUtf16(text);
    }
    return LoadBuiltinResString(ident);
}

} // namespace zentrop
