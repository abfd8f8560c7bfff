// The collection and its index check.
#include "base/Collection.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

namespace zentrop {

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

} // namespace zentrop
