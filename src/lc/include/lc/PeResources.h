// The resources of a PE module (PE32 or PE32+) read in place from its bytes: the headers, the
// section table and the whole resource tree are checked once, so that every later lookup
// stays inside the file whatever the file holds.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zentrop {

class PeResources {
public:
    static constexpr uint16_t RT_RCDATA = 10;

    // Checks the module and its resource tree; false when any offset, size, count or RVA
    // points outside the file or its section, the tree is deeper than type, name and
    // language, or a directory is reached twice. The bytes must outlive this object.
    bool Load(QByteArrayView bytes);
    // What the failed check was and the file offset where it looked.
    const QString& Error() const { return FError; }
    bool Pe32Plus() const { return FPe32Plus; }

    // The data of the resource of this type whose string name equals name, ASCII letters
    // compared without regard to case; the language-neutral version when there are several
    // languages, else the first. Nothing when there is none.
    std::optional<QByteArrayView> Find(uint16_t type, QStringView name) const;

    // Every resource of this type with a string name, in directory order.
    void ForEachNamed(uint16_t type, const std::function<void(const QString& name, QByteArrayView data)>& visit) const;

private:
    struct Section {
        uint32_t va;
        uint32_t size;
        uint64_t fileOffset;
    };

    bool Fail(const QString& what, uint64_t offset);
    bool LoadHeaders();
    bool CheckDirectory(uint32_t offset, int level, uint64_t& entryBudget);
    std::optional<QByteArrayView> Map(uint32_t rva, uint32_t size) const;
    std::optional<uint32_t> SubDirectory(uint32_t directory, uint16_t id) const;
    std::optional<QByteArrayView> LeafOf(uint32_t nameDirectory) const;
    int CompareName(uint32_t nameOffset, QStringView name) const;
    int CompareNames(uint32_t a, uint32_t b) const;
    bool NamesSorted(uint32_t directory) const;
    QString NameAt(uint32_t nameOffset) const;
    uint32_t Tree32(uint32_t offset) const;
    uint16_t Tree16(uint32_t offset) const;

    QByteArrayView FBytes;
    QByteArrayView FTree;
    uint64_t FTreeFileOffset = 0;
    std::vector<Section> FSections;
    bool FPe32Plus = false;
    // Type directories whose named entries are in ascending order, so that a lookup can halve.
    std::vector<uint32_t> FSortedDirectories;
    QString FError;
};

} // namespace zentrop
