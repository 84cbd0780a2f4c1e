#include "gui/window_queue.h"

#include <QPointer>

namespace tamber::gui {

void WindowQueue::post(std::function<void()> f) {
  bool wake;
  {
    std::lock_guard lock(mutex_);
    // One wake-up serves every closure posted before the window's thread
    // gets to it, so a worker that posts often does not flood the event queue.
    wake = pending_.empty();
    pending_.push_back(std::move(f));
  }
  if (wake) QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void WindowQueue::drain() {
  std::vector<std::function<void()>> ready;
  {
    std::lock_guard lock(mutex_);
    ready.swap(pending_);
  }
  // A closure may close the window the queue belongs to; what was queued
  // after it is then dropped, as the window's own events would be.
  QPointer<WindowQueue> alive(this);
  for (auto& f : ready) {
    f();
    if (!alive) return;
  }
}

}  // namespace tamber::gui
