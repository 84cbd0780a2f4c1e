// Long work of the library (exports, imports, reports) on a worker thread
// while a window-modal progress dialog shows its steps.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/result.h"

class QWidget;

namespace tamber::gui {

// Steps of the work: `done` of `total`; returns false once Cancel was
// pressed, and the work should stop.
using StepFunction = std::function<bool(long long done, long long total)>;

// Runs `work` on a worker thread and returns its status when it has ended.
// Meanwhile the dialog (titled `label`) shows the steps, and the window
// cannot be used, so the catalog is the worker's alone.
Status runInBackground(QWidget* parent, const QString& label, const QString& cancelText,
                       const std::function<Status(const StepFunction& step)>& work);

// The same for work with a result: the result, once the work has ended.
template <class T>
Result<T> runInBackground(QWidget* parent, const QString& label, const QString& cancelText,
                          const std::function<Result<T>(const StepFunction& step)>& work) {
  std::optional<Result<T>> result;
  (void)runInBackground(parent, label, cancelText, [&](const StepFunction& step) -> Status {
    result.emplace(work(step));
    return {};
  });
  return std::move(*result);
}

}  // namespace tamber::gui
