// The links attached to a port, walked while links may be attached and detached: by a slot
// on the walking thread itself, or on another thread while the port delivers on its event
// thread. A link detached during a walk is not called any more. A call already under way
// on another thread runs on its own copy of the slot, so detaching never waits for it (it
// may be waiting for the detaching thread) and the link may be freed once DetachLink has
// returned; what the slot itself refers to must outlive such a call.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

namespace zentrop {

class TComLink;

class LinkList {
public:
    // False when the link is already attached, or is nil.
    bool Attach(TComLink* Link);
    // False when the link is not attached.
    bool Detach(TComLink* Link);
    bool Empty() const;
    // Some link had its received-data slot set when the list last changed.
    bool WantsRxData() const;
    // Calls F with a copy of the Slot of each link attached now that has it assigned, first
    // to last, except links detached meanwhile.
    template <typename Slot>
    void ForEach(Slot TComLink::*Member, const std::function<void(const Slot&)>& F)
    {
        std::vector<TComLink*> links;
        {
            std::lock_guard lock(FMutex);
            links = FLinks;
        }
        for (TComLink* link : links) {
            Slot slot;
            {
                std::lock_guard lock(FMutex);
                if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end())
                    continue;
                slot = link->*Member;
            }
            if (slot)
                F(slot);
        }
    }

private:
    void Recompute();

    mutable std::mutex FMutex;
    std::vector<TComLink*> FLinks;
    bool FWantsRxData = false;
};

} // namespace zentrop
