// The port's list of links.
#include "LinkList.h"

#include "ComPort.h"

#include <algorithm>

bool TLinkList::Attach(TComLink* Link)
{
    std::lock_guard lock(FMutex);
    if (!Link || std::find(FLinks.begin(), FLinks.end(), Link) != FLinks.end())
        return false;
    FLinks.push_back(Link);
    Recompute();
    return true;
}

bool TLinkList::Detach(TComLink* Link)
{
    std::unique_lock lock(FMutex);
    const auto it = std::find(FLinks.begin(), FLinks.end(), Link);
    if (!Link || it == FLinks.end())
        return false;
    FLinks.erase(it);
    Recompute();
    // A call on this thread is a slot detaching its own link, which must not wait for itself.
    const std::thread::id self = std::this_thread::get_id();
    FCallEnded.wait(lock, [&] {
        return std::none_of(FCalls.begin(), FCalls.end(),
                            [&](const Call& c) { return c.Link == Link && c.Thread != self; });
    });
    return true;
}

bool TLinkList::Empty() const
{
    std::lock_guard lock(FMutex);
    return FLinks.empty();
}

bool TLinkList::WantsRxData() const
{
    std::lock_guard lock(FMutex);
    return FWantsRxData;
}

void TLinkList::Recompute()
{
    FWantsRxData = std::any_of(FLinks.begin(), FLinks.end(),
                               [](const TComLink* l) { return bool(l->OnRxData); });
}

void TLinkList::ForEach(const std::function<void(TComLink&)>& F)
{
    std::vector<TComLink*> links;
    {
        std::lock_guard lock(FMutex);
        if (FLinks.empty())
            return;
        links = FLinks;
    }
    const std::thread::id self = std::this_thread::get_id();
    for (TComLink* link : links) {
        {
            std::lock_guard lock(FMutex);
            if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end())
                continue;
            FCalls.push_back({link, self});
        }
        struct CallEnd {
            TLinkList& List;
            TComLink* Link;
            std::thread::id Thread;
            ~CallEnd()
            {
                {
                    std::lock_guard lock(List.FMutex);
                    auto& calls = List.FCalls;
                    calls.erase(std::find_if(calls.begin(), calls.end(), [&](const Call& c) {
                        return c.Link == Link && c.Thread == Thread;
                    }));
                }
                List.FCallEnded.notify_all();
            }
        } end{*this, link, self};
        F(*link);
    }
}
