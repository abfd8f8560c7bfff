// The collection and its index check.
#include "Collection.h"

#include "Exception.h"
#include "Format.h"
#include "ResStrings.h"

TCollection::TCollection(std::function<TCollectionItem*(TCollection*)> newItem, QObject* owner)
    : QObject(owner), FNewItem(std::move(newItem))
{
}

TCollectionItem* TCollection::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EConvertError(Format(LoadResString(res::SListIndexError), {index}));
    return FItems[index];
}

TCollectionItem* TCollection::Add()
{
    TCollectionItem* item = FNewItem(this);
    FItems.append(item);
    return item;
}
