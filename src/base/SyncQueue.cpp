// The synchronisation queue: jobs of other threads run on the owning thread.
#include "base/SyncQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace zentrop {

namespace {

const QEvent::Type kRunJobs = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

TSyncQueue::TSyncQueue(QObject* Parent) : QObject(Parent) {}

TSyncQueue::~TSyncQueue() = default;

bool TSyncQueue::OnOwningThread() const
{
    return QThread::currentThread() == thread();
}

void TSyncQueue::Enqueue(const std::shared_ptr<Job>& J)
{
    {
        std::lock_guard lock(FMutex);
        FJobs.push_back(J);
    }
    FChanged.notify_all();
    // The owning thread's event loop runs the job unless ServeUntil takes it first.
    QCoreApplication::postEvent(this, new QEvent(kRunJobs));
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return J->Released; });
}

void TSyncQueue::Synchronize(std::function<void()> Job)
{
    if (OnOwningThread()) {
        Job();
        return;
    }
    auto j = std::make_shared<TSyncQueue::Job>();
    j->Run = std::move(Job);
    Enqueue(j);
    if (j->Error)
        std::rethrow_exception(j->Error);
}

void TSyncQueue::Send(std::function<void()> Job)
{
    if (OnOwningThread()) {
        Job();
        return;
    }
    auto j = std::make_shared<TSyncQueue::Job>();
    j->Run = std::move(Job);
    j->ReleaseAtStart = true;
    Enqueue(j);
}

int TSyncQueue::RunPending()
{
    int ran = 0;
    for (;;) {
        std::shared_ptr<Job> j;
        {
            std::lock_guard lock(FMutex);
            if (FJobs.empty())
                return ran;
            j = std::move(FJobs.front());
            FJobs.pop_front();
            if (j->ReleaseAtStart)
                j->Released = true;
        }
        if (j->ReleaseAtStart) {
            FChanged.notify_all();
            j->Run();
        } else {
            try {
                j->Run();
            } catch (...) {
                j->Error = std::current_exception();
            }
            {
                std::lock_guard lock(FMutex);
                j->Released = true;
            }
            FChanged.notify_all();
        }
        ++ran;
    }
}

void TSyncQueue::ServeUntil(const std::function<bool()>& Done)
{
    for (;;) {
        while (RunPending() > 0) {
        }
        if (Done())
            return;
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return !FJobs.empty() || FWoken; });
        FWoken = false;
    }
}

void TSyncQueue::Wake()
{
    {
        std::lock_guard lock(FMutex);
        FWoken = true;
    }
    FChanged.notify_all();
}

int TSyncQueue::Waiting() const
{
    std::lock_guard lock(FMutex);
    return static_cast<int>(FJobs.size());
}

// The only events of our own type are the posted wake-ups; the event itself is not read, as
// it was made on another thread and handed over inside the library.
void TSyncQueue::customEvent(QEvent*)
{
    RunPending();
}

} // namespace zentrop
