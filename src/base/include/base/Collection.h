// Collections: an owned, indexed list of items of one class, held by a component in an object
// property, whose items carry published properties of their own.
#pragma once

#include <QList>
#include <QObject>

#include <functional>

namespace zentrop {

class TCollectionItem : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
};

class TCollection : public QObject {
    Q_OBJECT

public:
    // newItem makes one item of the collection's class, owned by the collection.
    TCollection(std::function<TCollectionItem*(TCollection*)> newItem, QObject* owner);

    int Count() const { return int(FItems.size()); }
    // Raises EConvertError "List index out of bounds (%d)" unless 0 <= index < Count().
    TCollectionItem* Items(int index) const;
    TCollectionItem* Add();

private:
    std::function<TCollectionItem*(TCollection*)> FNewItem;
    QList<TCollectionItem*> FItems;
};

} // namespace zentrop
