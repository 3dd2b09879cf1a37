#include "dialogkit/ui_mailbox.h"

namespace orv {

UiMailbox::UiMailbox(QObject* window, std::chrono::milliseconds interval)
    : timer_(new QTimer(window))
{
    timer_->setInterval(interval);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] { deliver(); });
    timer_->start();
}

UiMailbox::~UiMailbox()
{
    delete timer_.data();
}

void UiMailbox::post(std::function<void()> call)
{
    std::lock_guard lock(mutex_);
    if (!closed_) {
        queue_.push_back(std::move(call));
    }
}

void UiMailbox::deliver()
{
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(queue_);
    }
    for (auto& call : calls) {
        // A call may close the mailbox (the window goes): what follows it is for a window no more.
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return;
            }
        }
        call();
    }
}

void UiMailbox::close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
    if (timer_) {
        timer_->stop();
    }
}

} // namespace orv
