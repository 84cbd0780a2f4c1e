// Work handed from a worker thread to the window's thread.
//
// The closures wait in a queue under a standard mutex, and the window's
// thread is woken by a queued call that carries nothing of ours. So every
// hand-over of data goes through a lock that ThreadSanitizer sees; Qt's own
// event queue locks with futexes inside a library that is not instrumented,
// and a closure posted through it looks to the sanitizer like a race.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

namespace tamber::gui {

class WindowQueue : public QObject {
  Q_OBJECT
 public:
  explicit WindowQueue(QObject* parent = nullptr) : QObject(parent) {}

  // Any thread: runs `f` on the thread the queue lives in, in the order
  // posted. Closures still waiting when the queue is destroyed are dropped
  // with it, so the worker must have ended (or stopped posting) by then.
  void post(std::function<void()> f);

  // Runs what is waiting now (the window's thread only).
  Q_INVOKABLE void drain();

 private:
  std::mutex mutex_;
  std::vector<std::function<void()>> pending_;
};

}  // namespace tamber::gui
