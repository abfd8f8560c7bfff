// Hands work of other threads to the thread that owns a queue, in the two ways a port's
// event thread needs: Synchronize waits until the job has run there, Send only until that
// thread has taken it up. The owning thread runs the jobs from its event loop, and
// whenever it waits for such a thread to end (ServeUntil), so that the wait cannot
// deadlock on a job the other thread is blocked on.
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace zentrop {

class TSyncQueue : public QObject {
public:
    explicit TSyncQueue(QObject* Parent = nullptr);
    ~TSyncQueue() override;

    // Runs Job on the owning thread and waits until it has run; an exception that leaves
    // the job is raised again here. Called on the owning thread, the job runs at once.
    void Synchronize(std::function<void()> Job);
    // Hands Job to the owning thread and returns once that thread takes it up. The job
    // must not raise. Called on the owning thread, the job runs at once.
    void Send(std::function<void()> Job);

    // On the owning thread: runs the jobs waiting now, in the order they came; returns
    // how many ran.
    int RunPending();
    // On the owning thread: runs jobs as they come until Done() holds. Done is asked
    // again after every job and every Wake().
    void ServeUntil(const std::function<bool()>& Done);
    // Makes a ServeUntil in progress ask its Done() again.
    void Wake();
    // On any thread: jobs handed over that the owning thread has not taken up yet.
    int Waiting() const;

protected:
    void customEvent(QEvent* Event) override;

private:
    struct Job {
        std::function<void()> Run;
        bool ReleaseAtStart = false;
        bool Released = false;
        std::exception_ptr Error;
    };
    void Enqueue(const std::shared_ptr<Job>& J);
    bool OnOwningThread() const;

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::shared_ptr<Job>> FJobs;
    bool FWoken = false;
};

} // namespace zentrop
