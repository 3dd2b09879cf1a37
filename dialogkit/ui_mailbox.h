#pragma once
// Carries calls from worker threads to a window, to run on the window's own thread. The calls wait
// in a queue of our own, under our own lock, and the window takes them every few milliseconds: no
// data of ours crosses threads through Qt's event queue. Once the window closes the mailbox,
// nothing more is delivered, so threads that outlive the window (a camera finishing its step
// after the window went) never reach it. Shared by the window and the threads' listeners.

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace orv {

class UiMailbox
{
public:
    // On the window's thread. Delivery starts at once and stops with close() or the window.
    explicit UiMailbox(QObject* window, std::chrono::milliseconds interval = std::chrono::milliseconds(15));
    ~UiMailbox();
    UiMailbox(const UiMailbox&) = delete;
    UiMailbox& operator=(const UiMailbox&) = delete;

    // From any thread; returns at once.
    void post(std::function<void()> call);
    // On the window's thread: runs what was posted so far, in the order posted.
    void deliver();
    // On the window's thread, before the window goes: what is queued is dropped, and nothing
    // posted from now on is kept.
    void close();

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> queue_;
    bool closed_ = false;
    QPointer<QTimer> timer_;
};

} // namespace orv
