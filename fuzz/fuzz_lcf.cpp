// Fuzzes the language file reader: the PE headers and resource tree, the header record, every
// string record's pairs and every form record's walk with its key and path tokens. Any bytes
// give a refusal or data that lies inside the input.
#include "base/Exception.h"
#include "lc/LcfFormat.h"
#include "lc/PeResources.h"

#include <cstdlib>

using namespace zentrop;

namespace {

void Inside(QByteArrayView part, const uint8_t* data, size_t size)
{
    const auto* p = reinterpret_cast<const uint8_t*>(part.data());
    if (part.size() > 0 && (p < data || p + part.size() > data + size))
        std::abort();
}

void Tokens(const QString& key)
{
    int pos = 1;
    const QString component = lcf::NextToken(key, u'-', pos);
    const QString path = pos > 0 ? lcf::NextToken(key, u'-', pos) : QString();
    pos = 1;
    do {
        const QString element = lcf::NextToken(path, u'.', pos);
        lcf::IndexKind kind;
        int index;
        QString name;
        try {
            lcf::SplitIndexed(element, kind, index, name);
        } catch (const EConvertError&) {
        }
    } while (pos > 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    PeResources pe;
    if (!pe.Load(bytes))
        return 0;
    if (const auto header = pe.Find(PeResources::RT_RCDATA, lcf::HeaderName)) {
        Inside(*header, data, size);
        lcf::ReadHeader(*header);
    }
    pe.ForEachNamed(PeResources::RT_RCDATA, [&](const QString& name, QByteArrayView record) {
        Inside(record, data, size);
        // Names may repeat, and the first of them may have no data: the lookup answers for
        // the first.
        if (const auto found = pe.Find(PeResources::RT_RCDATA, name))
            Inside(*found, data, size);
        for (int k = 0; k < 3; ++k) {
            QByteArrayView text;
            if (lcf::ReadPair(record, 0, 8 * k, &text) >= 0) {
                Inside(text, data, size);
                lcf::DecodeUtf16(text);
            }
        }
        for (int language = 0; language < 2; ++language)
            for (const lcf::FormEntry& e : lcf::ReadFormRecord(record, language))
                Tokens(QString::fromLatin1(e.Key));
    });
    return 0;
}
