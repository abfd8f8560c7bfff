// The PE resource writer and the language file's record builders.
#include "lc/LcfWriter.h"

#include "lc/LcfFormat.h"

#include <QtEndian>

#include <algorithm>

namespace zentrop {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kPeOffset = 0x40;

uint32_t AlignUp(uint32_t v, uint32_t a)
{
    return (v + a - 1) / a * a;
}

void Put16(QByteArray& b, qsizetype at, uint16_t v)
{
    qToLittleEndian(v, b.data() + at);
}

void Put32(QByteArray& b, qsizetype at, uint32_t v)
{
    qToLittleEndian(v, b.data() + at);
}

void Append32(QByteArray& b, uint32_t v)
{
    const qsizetype at = b.size();
    b.resize(at + 4);
    Put32(b, at, v);
}

bool NameLess(const QString& a, const QString& b)
{
    return a.toUpper() < b.toUpper();
}

// The resource tree, laid out as resource compilers do: all directories, then the data
// entries, then the names, then the data, each datum on an 8-byte boundary.
QByteArray BuildTree(QList<PeResource> resources, uint32_t treeRva)
{
    std::stable_sort(resources.begin(), resources.end(), [](const PeResource& a, const PeResource& b) {
        if (a.Type != b.Type)
            return a.Type < b.Type;
        if (a.Name.isEmpty() != b.Name.isEmpty())
            return !a.Name.isEmpty();
        if (!a.Name.isEmpty() && a.Name.toUpper() != b.Name.toUpper())
            return NameLess(a.Name, b.Name);
        if (a.Name.isEmpty() && a.Id != b.Id)
            return a.Id < b.Id;
        return a.Language < b.Language;
    });
    auto sameName = [](const PeResource& a, const PeResource& b) {
        return a.Type == b.Type && a.Name.toUpper() == b.Name.toUpper() && (!a.Name.isEmpty() || a.Id == b.Id);
    };

    // Sizes first, to know where each part starts.
    QList<uint16_t> types;
    QList<QList<int>> names; // per type: index of the first resource of each name
    for (int i = 0; i < resources.size(); ++i) {
        if (types.isEmpty() || types.last() != resources[i].Type) {
            types.append(resources[i].Type);
            names.append(QList<int>());
        }
        if (names.last().isEmpty() || !sameName(resources[names.last().last()], resources[i]))
            names.last().append(i);
    }
    uint32_t directories = 16 + 8 * uint32_t(types.size());
    for (const auto& typeNames : names) {
        directories += 16 + 8 * uint32_t(typeNames.size());
        directories += 16 * uint32_t(typeNames.size());
    }
    directories += 8 * uint32_t(resources.size());
    const uint32_t dataEntries = directories;
    uint32_t stringsAt = dataEntries + 16 * uint32_t(resources.size());
    QByteArray strings;
    QMap<QString, uint32_t> nameOffsets;
    for (const PeResource& r : resources)
        if (!r.Name.isEmpty() && !nameOffsets.contains(r.Name.toUpper())) {
            nameOffsets.insert(r.Name.toUpper(), stringsAt + uint32_t(strings.size()));
            QByteArray n(2, '\0');
            Put16(n, 0, uint16_t(r.Name.size()));
            strings += n + lcf::EncodeUtf16(r.Name);
        }
    QByteArray tree(stringsAt, '\0');
    tree += strings;

    uint32_t nextDirectory = 16 + 8 * uint32_t(types.size());
    auto writeDirectory = [&tree](uint32_t at, uint16_t named, uint16_t ids) {
        Put16(tree, at + 12, named);
        Put16(tree, at + 14, ids);
    };
    auto writeEntry = [&tree](uint32_t at, uint32_t name, uint32_t target) {
        Put32(tree, at, name);
        Put32(tree, at + 4, target);
    };
    writeDirectory(0, 0, uint16_t(types.size()));
    uint32_t nextDataEntry = dataEntries;
    for (int t = 0; t < types.size(); ++t) {
        const uint32_t typeDir = nextDirectory;
        writeEntry(16 + 8 * t, types[t], 0x80000000u | typeDir);
        const QList<int>& typeNames = names[t];
        const auto named = std::count_if(typeNames.begin(), typeNames.end(), [&](int i) { return !resources[i].Name.isEmpty(); });
        writeDirectory(typeDir, uint16_t(named), uint16_t(typeNames.size() - named));
        nextDirectory += 16 + 8 * uint32_t(typeNames.size());
        for (int n = 0; n < typeNames.size(); ++n) {
            const int first = typeNames[n];
            const int end = n + 1 < typeNames.size() ? typeNames[n + 1]
                            : (t + 1 < types.size() ? names[t + 1].first() : int(resources.size()));
            const PeResource& r = resources[first];
            const uint32_t nameField = r.Name.isEmpty() ? r.Id : 0x80000000u | nameOffsets.value(r.Name.toUpper());
            const uint32_t nameDir = nextDirectory;
            writeEntry(typeDir + 16 + 8 * n, nameField, 0x80000000u | nameDir);
            writeDirectory(nameDir, 0, uint16_t(end - first));
            nextDirectory += 16 + 8 * uint32_t(end - first);
            for (int l = first; l < end; ++l) {
                writeEntry(nameDir + 16 + 8 * (l - first), resources[l].Language, nextDataEntry);
                nextDataEntry += 16;
            }
        }
    }
    // The data, each part 8-byte aligned.
    for (int i = 0; i < resources.size(); ++i) {
        tree.resize(AlignUp(uint32_t(tree.size()), 8), '\0');
        Put32(tree, dataEntries + 16 * i, treeRva + uint32_t(tree.size()));
        Put32(tree, dataEntries + 16 * i + 4, uint32_t(resources[i].Data.size()));
        tree += resources[i].Data;
    }
    return tree;
}

} // namespace

QByteArray WritePeResources(const QList<PeResource>& resources, const PeOptions& options)
{
    const bool plus = options.Pe32Plus;
    const uint32_t optionalSize = plus ? 240 : 224;
    const uint32_t sectionTable = kPeOffset + 24 + optionalSize;
    const uint32_t headersSize = AlignUp(sectionTable + 40, kFileAlignment);

    QByteArray section(options.Leading, '\0');
    // Other data ahead of the tree: a recognisable filler, as a linker's merged section would hold.
    for (uint32_t i = 0; i < options.Leading; ++i)
        section[i] = char(i & 0xFF);
    const uint32_t treeRva = kSectionRva + options.Leading;
    const QByteArray tree = BuildTree(resources, treeRva);
    section += tree;
    const uint32_t virtualSize = uint32_t(section.size());
    const uint32_t rawSize = AlignUp(virtualSize, kFileAlignment);

    QByteArray file(headersSize, '\0');
    file[0] = 'M';
    file[1] = 'Z';
    Put32(file, 0x3C, kPeOffset);
    file.replace(kPeOffset, 4, QByteArray("PE\0\0", 4));
    const uint32_t coff = kPeOffset + 4;
    Put16(file, coff, plus ? 0x8664 : 0x14C);
    Put16(file, coff + 2, 1);
    Put16(file, coff + 16, uint16_t(optionalSize));
    // Executable image, DLL; 32-bit machine or large-address aware.
    Put16(file, coff + 18, plus ? 0x2022 : 0x2102);

    const uint32_t opt = coff + 20;
    Put16(file, opt, plus ? 0x20B : 0x10B);
    Put32(file, opt + 8, rawSize); // size of initialised data
    if (!plus)
        Put32(file, opt + 24, kSectionRva); // base of data
    if (plus)
        qToLittleEndian<uint64_t>(0x180000000ull, file.data() + opt + 24);
    else
        Put32(file, opt + 28, 0x10000000u);
    Put32(file, opt + 32, kSectionAlignment);
    Put32(file, opt + 36, kFileAlignment);
    Put16(file, opt + 40, 4); // operating system version
    Put16(file, opt + 48, 4); // subsystem version
    Put32(file, opt + 56, AlignUp(kSectionRva + virtualSize, kSectionAlignment)); // size of image
    Put32(file, opt + 60, headersSize);
    Put16(file, opt + 68, 2); // subsystem: windows GUI
    const uint32_t sizes = opt + 72;
    if (plus) {
        qToLittleEndian<uint64_t>(0x100000, file.data() + sizes);
        qToLittleEndian<uint64_t>(0x1000, file.data() + sizes + 8);
        qToLittleEndian<uint64_t>(0x100000, file.data() + sizes + 16);
        qToLittleEndian<uint64_t>(0x1000, file.data() + sizes + 24);
    } else {
        Put32(file, sizes, 0x100000);
        Put32(file, sizes + 4, 0x1000);
        Put32(file, sizes + 8, 0x100000);
        Put32(file, sizes + 12, 0x1000);
    }
    const uint32_t countAt = plus ? opt + 108 : opt + 92;
    Put32(file, countAt, 16);
    Put32(file, countAt + 4 + 2 * 8, treeRva);
    Put32(file, countAt + 4 + 2 * 8 + 4, uint32_t(tree.size()));

    const uint32_t s = sectionTable;
    file.replace(s, 5, ".rsrc");
    Put32(file, s + 8, virtualSize);
    Put32(file, s + 12, kSectionRva);
    Put32(file, s + 16, rawSize);
    Put32(file, s + 20, headersSize);
    Put32(file, s + 36, 0x40000040u); // initialised data, readable

    section.resize(rawSize, '\0');
    return file + section;
}

namespace lcf {

QByteArray EncodeUtf16(const QString& text)
{
    QByteArray out(text.size() * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<uint16_t>(text[i].unicode(), out.data() + 2 * i);
    return out;
}

QByteArray BuildHeader(uint32_t flags, const QList<int32_t>& languages)
{
    QByteArray out = Signature.toByteArray();
    Append32(out, flags);
    Append32(out, uint32_t(languages.size()));
    for (int32_t l : languages)
        Append32(out, uint32_t(l));
    return out;
}

QByteArray BuildStringRecord(const QList<TText>& pairs)
{
    QByteArray out;
    QByteArray texts;
    const uint32_t tableSize = 8 * uint32_t(pairs.size());
    for (const TText& t : pairs) {
        if (!t) {
            Append32(out, 0);
            Append32(out, uint32_t(-1));
            continue;
        }
        const QByteArray bytes = EncodeUtf16(*t);
        Append32(out, tableSize + uint32_t(texts.size()));
        Append32(out, uint32_t(bytes.size()));
        texts += bytes;
    }
    return out + texts;
}

QByteArray BuildFormRecord(const QList<FormProperty>& properties, const QByteArray& comment)
{
    QByteArray out;
    Append32(out, uint32_t(comment.size()));
    out += comment;
    Append32(out, uint32_t(properties.size()));
    const qsizetype table = out.size();
    out.resize(table + 8 * properties.size(), '\0');
    for (qsizetype j = 0; j < properties.size(); ++j) {
        const FormProperty& p = properties[j];
        const uint32_t start = uint32_t(out.size());
        Put32(out, table + 8 * j, start - uint32_t(table));
        // Key pair, then one pair per language, then the key and the texts.
        QByteArray record;
        const uint32_t pairs = 8 * uint32_t(1 + p.Texts.size());
        QByteArray tail = p.Key;
        Append32(record, pairs);
        Append32(record, uint32_t(p.Key.size()));
        for (const TText& t : p.Texts) {
            if (!t) {
                Append32(record, 0);
                Append32(record, uint32_t(-1));
                continue;
            }
            const QByteArray bytes = EncodeUtf16(*t);
            Append32(record, pairs + uint32_t(tail.size()));
            Append32(record, uint32_t(bytes.size()));
            tail += bytes;
        }
        out += record + tail;
    }
    return out;
}

QByteArray BuildLanguageFile(const LanguageFile& file, const PeOptions& options)
{
    QList<PeResource> resources;
    resources.append({10, HeaderName, 0, 0, BuildHeader(file.Flags, file.Languages)});
    for (auto i = file.Strings.cbegin(); i != file.Strings.cend(); ++i) {
        QList<TText> pairs;
        if (file.Flags & FlagLeadingPair)
            pairs.append(i.value().Source);
        pairs += i.value().Texts;
        resources.append({10, QString::number(i.key()), 0, 0, BuildStringRecord(pairs)});
    }
    for (auto i = file.Forms.cbegin(); i != file.Forms.cend(); ++i)
        resources.append({10, i.key().toUpper(), 0, 0, BuildFormRecord(i.value(), i.key().toLatin1())});
    return WritePeResources(resources, options);
}

} // namespace lcf

} // namespace zentrop
