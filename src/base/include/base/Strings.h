// String lists: the abstract TStrings that controls expose as their item lists, the plain
// TStringList, and the comma text form in which a list is stored as one line.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace zentrop {

// Joins items into comma text: an item holding a character with a code of 32 or less, a
// double quote or a comma is quoted with inner quotes doubled; a list of one empty item
// gives two double quotes, an empty list the empty text.
QString JoinCommaText(const QStringList& items);

// Splits comma text: blanks and control characters around items are skipped, a quoted item
// runs to its closing quote (a doubled quote stands for one), any other item ends at a comma
// or a character with a code of 32 or less; a comma at the very end adds one empty item.
QStringList SplitCommaText(const QString& text);

class TStrings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString CommaText READ CommaText WRITE SetCommaText)
    Q_PROPERTY(QString Text READ Text WRITE SetText)

public:
    using QObject::QObject;

    virtual int Count() const = 0;
    virtual QString Get(int index) const = 0;
    virtual void Put(int index, const QString& s) = 0;
    virtual void Insert(int index, const QString& s) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    QString operator[](int index) const { return Get(index); }
    int Add(const QString& s);
    // Position of the first item equal to s, ignoring letter case; -1 when none.
    int IndexOf(const QString& s) const;

    QStringList ToStringList() const;
    void Assign(const QStringList& items);

    QString CommaText() const { return JoinCommaText(ToStringList()); }
    void SetCommaText(const QString& text) { Assign(SplitCommaText(text)); }
    // The items, each followed by a line break.
    QString Text() const;
    void SetText(const QString& text);

signals:
    void Changed();

protected:
    // Raises EConvertError "List index out of bounds (%d)" unless 0 <= index < limit.
    static void CheckIndex(int index, int limit);
};

class TStringList : public TStrings {
    Q_OBJECT

public:
    using TStrings::TStrings;

    int Count() const override { return static_cast<int>(FItems.size()); }
    QString Get(int index) const override;
    void Put(int index, const QString& s) override;
    void Insert(int index, const QString& s) override;
    void Delete(int index) override;
    void Clear() override;

    // Sorts in case-insensitive text order (so "COM10" comes before "COM2").
    void Sort();

private:
    std::vector<QString> FItems;
};

} // namespace zentrop
