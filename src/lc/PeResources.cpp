// The PE resource reader: header and section checks, the resource tree walk with its depth
// limit and loop refusal, and lookups by type and string name.
#include "lc/PeResources.h"

#include <QtEndian>

#include <algorithm>
#include <unordered_set>

namespace zentrop {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kDirectorySize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
// Type, name and language: a data entry sits below the third level.
constexpr int kLanguageLevel = 2;
constexpr int kResourceDirectory = 2;

uint16_t Get16(QByteArrayView b, uint64_t at)
{
    return at + 2 <= uint64_t(b.size()) ? qFromLittleEndian<uint16_t>(b.data() + at) : 0;
}

uint32_t Get32(QByteArrayView b, uint64_t at)
{
    return at + 4 <= uint64_t(b.size()) ? qFromLittleEndian<uint32_t>(b.data() + at) : 0;
}

bool Fits(uint64_t offset, uint64_t length, uint64_t size)
{
    return offset <= size && length <= size - offset;
}

char16_t AsciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}

QString Hex(uint64_t v)
{
    return QStringLiteral("0x%1").arg(v, 0, 16);
}

} // namespace

bool PeResources::Fail(const QString& what, uint64_t offset)
{
    FError = QStringLiteral("%1 (at file offset %2)").arg(what, Hex(offset));
    // A module that failed a check answers no lookup.
    FTree = {};
    return false;
}

bool PeResources::Load(QByteArrayView bytes)
{
    FBytes = bytes;
    FTree = {};
    FSections.clear();
    FSortedDirectories.clear();
    FError.clear();
    if (!LoadHeaders())
        return false;
    uint64_t budget = FTree.size() / kEntrySize;
    std::unordered_set<uint32_t> visited;
    // The walk is iterative over levels so that a directory reached twice is seen at once.
    struct Pending {
        uint32_t offset;
        int level;
    };
    std::vector<Pending> pending{{0, 0}};
    while (!pending.empty()) {
        const Pending dir = pending.back();
        pending.pop_back();
        const uint64_t at = FTreeFileOffset + dir.offset;
        if (!Fits(dir.offset, kDirectorySize, FTree.size()))
            return Fail(QStringLiteral("resource directory outside the resource section"), at);
        if (!visited.insert(dir.offset).second)
            return Fail(QStringLiteral("resource directory reached twice (a loop or a shared directory)"), at);
        const uint64_t count = uint64_t(Tree16(dir.offset + 12)) + Tree16(dir.offset + 14);
        if (!Fits(dir.offset + kDirectorySize, count * kEntrySize, FTree.size()))
            return Fail(QStringLiteral("resource directory of %1 entries runs past the resource section").arg(count), at);
        if (count > budget)
            return Fail(QStringLiteral("resource directories overlap"), at);
        budget -= count;
        for (uint64_t i = 0; i < count; ++i) {
            const uint32_t entry = dir.offset + kDirectorySize + uint32_t(i) * kEntrySize;
            const uint64_t entryAt = FTreeFileOffset + entry;
            const uint32_t name = Tree32(entry);
            if (name & kHighBit) {
                const uint32_t nameOffset = name & ~kHighBit;
                if (!Fits(nameOffset, 2, FTree.size()) || !Fits(nameOffset + 2ull, Tree16(nameOffset) * 2ull, FTree.size()))
                    return Fail(QStringLiteral("resource name outside the resource section"), entryAt);
            }
            const uint32_t target = Tree32(entry + 4);
            if (target & kHighBit) {
                if (dir.level >= kLanguageLevel)
                    return Fail(QStringLiteral("resource directory nested deeper than type, name and language"), entryAt);
                pending.push_back({target & ~kHighBit, dir.level + 1});
                continue;
            }
            if (dir.level != kLanguageLevel)
                return Fail(QStringLiteral("resource data where a directory belongs"), entryAt);
            if (!Fits(target, kDataEntrySize, FTree.size()))
                return Fail(QStringLiteral("resource data entry outside the resource section"), entryAt);
            const uint32_t rva = Tree32(target);
            const uint32_t size = Tree32(target + 4);
            if (!Map(rva, size))
                return Fail(QStringLiteral("resource data (RVA %1, %2 bytes) outside its section").arg(Hex(rva)).arg(size),
                            FTreeFileOffset + target);
        }
    }
    const uint32_t types = uint32_t(Tree16(12)) + Tree16(14);
    for (uint32_t i = 0; i < types; ++i) {
        const uint32_t target = Tree32(kDirectorySize + i * kEntrySize + 4);
        if ((target & kHighBit) && NamesSorted(target & ~kHighBit))
            FSortedDirectories.push_back(target & ~kHighBit);
    }
    std::sort(FSortedDirectories.begin(), FSortedDirectories.end());
    return true;
}

bool PeResources::LoadHeaders()
{
    const uint64_t fileSize = FBytes.size();
    if (fileSize < 0x40 || FBytes[0] != 'M' || FBytes[1] != 'Z')
        return Fail(QStringLiteral("not a PE module: no \"MZ\" header"), 0);
    const uint64_t pe = Get32(FBytes, 0x3C);
    if (!Fits(pe, 24, fileSize) || FBytes.sliced(pe, 4) != QByteArrayView("PE\0\0", 4))
        return Fail(QStringLiteral("not a PE module: no \"PE\" signature"), pe);
    const uint64_t coff = pe + 4;
    const uint32_t sectionCount = Get16(FBytes, coff + 2);
    const uint32_t optionalSize = Get16(FBytes, coff + 16);
    const uint64_t optional = coff + 20;
    if (!Fits(optional, optionalSize, fileSize) || optionalSize < 2)
        return Fail(QStringLiteral("optional header outside the file"), optional);
    const uint16_t magic = Get16(FBytes, optional);
    if (magic != 0x10B && magic != 0x20B)
        return Fail(QStringLiteral("unknown optional header magic %1").arg(Hex(magic)), optional);
    FPe32Plus = magic == 0x20B;
    const uint32_t countAt = FPe32Plus ? 108 : 92;
    const uint32_t directories = countAt + 4;
    if (optionalSize < directories + (kResourceDirectory + 1) * 8 || Get32(FBytes, optional + countAt) <= kResourceDirectory)
        return Fail(QStringLiteral("optional header without a resource directory entry"), optional);
    const uint32_t treeRva = Get32(FBytes, optional + directories + kResourceDirectory * 8);
    const uint32_t treeSize = Get32(FBytes, optional + directories + kResourceDirectory * 8 + 4);
    if (treeRva == 0 || treeSize < kDirectorySize)
        return Fail(QStringLiteral("the module has no resources"), optional + directories + kResourceDirectory * 8);

    const uint64_t table = optional + optionalSize;
    if (sectionCount == 0 || !Fits(table, sectionCount * 40ull, fileSize))
        return Fail(QStringLiteral("section table of %1 sections outside the file").arg(sectionCount), table);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t s = table + i * 40ull;
        const uint32_t virtualSize = Get32(FBytes, s + 8);
        const uint32_t va = Get32(FBytes, s + 12);
        const uint32_t rawSize = Get32(FBytes, s + 16);
        const uint32_t rawOffset = Get32(FBytes, s + 20);
        // Raw data past the virtual size is only file alignment padding.
        const uint32_t size = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
        if (size != 0 && !Fits(rawOffset, size, fileSize))
            return Fail(QStringLiteral("data of section %1 outside the file").arg(i + 1), s);
        // A section without data in the file holds nothing to read, wherever it claims to lie.
        if (size != 0)
            FSections.push_back({va, size, rawOffset});
    }
    const auto tree = Map(treeRva, treeSize);
    if (!tree)
        return Fail(QStringLiteral("resource tree (RVA %1, %2 bytes) outside its section").arg(Hex(treeRva)).arg(treeSize),
                    optional + directories + kResourceDirectory * 8);
    FTree = *tree;
    FTreeFileOffset = uint64_t(FTree.data() - FBytes.data());
    return true;
}

std::optional<QByteArrayView> PeResources::Map(uint32_t rva, uint32_t size) const
{
    for (const Section& s : FSections)
        if (rva >= s.va && Fits(rva - s.va, size, s.size))
            return FBytes.sliced(qsizetype(s.fileOffset + (rva - s.va)), size);
    return std::nullopt;
}

uint32_t PeResources::Tree32(uint32_t offset) const
{
    return Get32(FTree, offset);
}

uint16_t PeResources::Tree16(uint32_t offset) const
{
    return Get16(FTree, offset);
}

std::optional<uint32_t> PeResources::SubDirectory(uint32_t directory, uint16_t id) const
{
    const uint32_t named = Tree16(directory + 12);
    const uint32_t count = named + Tree16(directory + 14);
    for (uint32_t i = named; i < count; ++i) {
        const uint32_t entry = directory + kDirectorySize + i * kEntrySize;
        const uint32_t target = Tree32(entry + 4);
        if (!(Tree32(entry) & kHighBit) && Tree32(entry) == id && (target & kHighBit))
            return target & ~kHighBit;
    }
    return std::nullopt;
}

std::optional<QByteArrayView> PeResources::LeafOf(uint32_t nameDirectory) const
{
    const uint32_t count = uint32_t(Tree16(nameDirectory + 12)) + Tree16(nameDirectory + 14);
    std::optional<uint32_t> chosen;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = nameDirectory + kDirectorySize + i * kEntrySize;
        if (Tree32(entry + 4) & kHighBit)
            continue;
        if (!chosen || Tree32(entry) == 0)
            chosen = Tree32(entry + 4);
        if (Tree32(entry) == 0)
            break;
    }
    if (!chosen)
        return std::nullopt;
    return Map(Tree32(*chosen), Tree32(*chosen + 4));
}

int PeResources::CompareName(uint32_t nameOffset, QStringView name) const
{
    const uint32_t length = Tree16(nameOffset);
    const uint32_t common = std::min<uint32_t>(length, uint32_t(name.size()));
    for (uint32_t i = 0; i < common; ++i) {
        const char16_t a = AsciiUpper(Tree16(nameOffset + 2 + i * 2));
        const char16_t b = AsciiUpper(name[i].unicode());
        if (a != b)
            return a < b ? -1 : 1;
    }
    return length == uint32_t(name.size()) ? 0 : (length < uint32_t(name.size()) ? -1 : 1);
}

int PeResources::CompareNames(uint32_t a, uint32_t b) const
{
    return CompareName(a, NameAt(b));
}

bool PeResources::NamesSorted(uint32_t directory) const
{
    const uint32_t named = Tree16(directory + 12);
    for (uint32_t i = 1; i < named; ++i) {
        const uint32_t previous = Tree32(directory + kDirectorySize + (i - 1) * kEntrySize);
        const uint32_t current = Tree32(directory + kDirectorySize + i * kEntrySize);
        if (!(previous & kHighBit) || !(current & kHighBit) || CompareNames(previous & ~kHighBit, current & ~kHighBit) >= 0)
            return false;
    }
    return true;
}

QString PeResources::NameAt(uint32_t nameOffset) const
{
    const uint32_t length = Tree16(nameOffset);
    QString name(length, Qt::Uninitialized);
    for (uint32_t i = 0; i < length; ++i)
        name[i] = QChar(Tree16(nameOffset + 2 + i * 2));
    return name;
}

std::optional<QByteArrayView> PeResources::Find(uint16_t type, QStringView name) const
{
    if (FTree.isEmpty())
        return std::nullopt;
    const auto types = SubDirectory(0, type);
    if (!types)
        return std::nullopt;
    auto entry = [&types](uint32_t i) { return *types + kDirectorySize + i * kEntrySize; };
    auto leafIfNamed = [this](uint32_t e, QStringView wanted) -> std::optional<std::optional<QByteArrayView>> {
        const uint32_t nameField = Tree32(e);
        const uint32_t target = Tree32(e + 4);
        if (!(nameField & kHighBit) || !(target & kHighBit) || CompareName(nameField & ~kHighBit, wanted) != 0)
            return std::nullopt;
        return LeafOf(target & ~kHighBit);
    };
    const uint32_t named = Tree16(*types + 12);
    if (std::binary_search(FSortedDirectories.begin(), FSortedDirectories.end(), *types)) {
        uint32_t low = 0;
        uint32_t high = named;
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (CompareName(Tree32(entry(middle)) & ~kHighBit, name) < 0)
                low = middle + 1;
            else
                high = middle;
        }
        if (low < named)
            if (const auto found = leafIfNamed(entry(low), name))
                return *found;
        return std::nullopt;
    }
    for (uint32_t i = 0; i < named; ++i)
        if (const auto found = leafIfNamed(entry(i), name))
            return *found;
    return std::nullopt;
}

void PeResources::ForEachNamed(uint16_t type, const std::function<void(const QString&, QByteArrayView)>& visit) const
{
    if (FTree.isEmpty())
        return;
    const auto types = SubDirectory(0, type);
    if (!types)
        return;
    const uint32_t named = Tree16(*types + 12);
    for (uint32_t i = 0; i < named; ++i) {
        const uint32_t entry = *types + kDirectorySize + i * kEntrySize;
        const uint32_t nameField = Tree32(entry);
        const uint32_t target = Tree32(entry + 4);
        if (!(nameField & kHighBit) || !(target & kHighBit))
            continue;
        if (const auto data = LeafOf(target & ~kHighBit))
            visit(NameAt(nameField & ~kHighBit), *data);
    }
}

} // namespace zentrop
