// The links attached to a port, walked while links may be attached and detached: by a slot
// on the walking thread itself, or on another thread while the port delivers on its event
// thread. A link detached during a walk is not called any more; one detached on another
// thread is not called after DetachLink returns, so its owner may free it then.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TComLink;

class TLinkList {
public:
    // False when the link is already attached, or is nil.
    bool Attach(TComLink* Link);
    // False when the link is not attached. Waits while another thread is calling it.
    bool Detach(TComLink* Link);
    bool Empty() const;
    // Some link had its received-data slot set when the list last changed.
    bool WantsRxData() const;
    // Calls F with each link attached now, first to last, except those detached meanwhile.
    void ForEach(const std::function<void(TComLink&)>& F);

private:
    struct Call {
        TComLink* Link;
        std::thread::id Thread;
    };
    void Recompute();

    mutable std::mutex FMutex;
    std::condition_variable FCallEnded;
    std::vector<TComLink*> FLinks;
    std::vector<Call> FCalls;
    bool FWantsRxData = false;
};
