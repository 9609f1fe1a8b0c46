// How a worker reaches the UI thread: events posted to a screen's object, and questions put to
// the user while the worker waits for the answer.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <utility>

namespace kfr::ui {

// Runs f(*target) on target's thread, later, through its event queue (the worker goes on).
template <typename T, typename F>
void postToUiThread(T* target, F&& f)
{
    QMetaObject::invokeMethod(target, [target, f = std::forward<F>(f)] { f(*target); }, Qt::QueuedConnection);
}

// Runs ask on the thread of context and returns its answer to the waiting worker. An owner that
// is closing (closing set) answers fallback at once, so a worker never waits for a window that
// will not come; a question the worker stopped waiting for is then never shown. closing must
// live as long as context (a member of it).
template <typename T, typename F>
T askOnUiThread(QObject* context, const std::atomic<bool>& closing, T fallback, F ask)
{
    struct Pending {
        std::promise<T> answer;
        std::atomic<bool> abandoned{false};
    };
    auto pending = std::make_shared<Pending>();
    std::future<T> reply = pending->answer.get_future();
    QMetaObject::invokeMethod(
        context,
        [pending, &closing, fallback, ask] {
            pending->answer.set_value(pending->abandoned || closing ? fallback : ask());
        },
        Qt::QueuedConnection);
    while (reply.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (closing) {
            pending->abandoned = true;
            return fallback;
        }
    }
    return reply.get();
}

}  // namespace kfr::ui
