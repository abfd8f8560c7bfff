// The port's list of links.
#include "LinkList.h"

#include "cport/ComPort.h"

#include <algorithm>

namespace zentrop {

bool LinkList::Attach(TComLink* Link)
{
    std::lock_guard lock(FMutex);
    if (!Link || std::find(FLinks.begin(), FLinks.end(), Link) != FLinks.end())
        return false;
    FLinks.push_back(Link);
    Recompute();
    return true;
}

bool LinkList::Detach(TComLink* Link)
{
    std::lock_guard lock(FMutex);
    const auto it = std::find(FLinks.begin(), FLinks.end(), Link);
    if (!Link || it == FLinks.end())
        return false;
    FLinks.erase(it);
    Recompute();
    return true;
}

bool LinkList::Empty() const
{
    std::lock_guard lock(FMutex);
    return FLinks.empty();
}

bool LinkList::WantsRxData() const
{
    std::lock_guard lock(FMutex);
    return FWantsRxData;
}

void LinkList::Recompute()
{
    FWantsRxData = std::any_of(FLinks.begin(), FLinks.end(),
                               [](const TComLink* l) { return bool(l->OnRxData); });
}

} // namespace zentrop
