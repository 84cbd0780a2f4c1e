// Long work of the library (exports, imports, reports) on a worker thread
// while a window-modal progress dialog shows its steps.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/result.h"

class QWidget;

namespace tamber::gui {

// Held by work on another thread that reads the catalog (a search, a
// report, an export) for as long as it reads: a job that has walked its
// folder files its item in the catalog only when none is held.
class CatalogReading {
 public:
  CatalogReading();
  ~CatalogReading();
  CatalogReading(CatalogReading&& other) noexcept;
  CatalogReading(const CatalogReading&) = delete;
  CatalogReading& operator=(const CatalogReading&) = delete;
  CatalogReading& operator=(CatalogReading&&) = delete;
  static bool any();

 private:
  bool held_ = true;
};

// Steps of the work: `done` of `total`; returns false once Cancel was
// pressed, and the work should stop.
using StepFunction = std::function<bool(long long done, long long total)>;

// Runs `work` on a worker thread and returns its status when it has ended.
// Meanwhile the dialog (titled `label`) shows the steps, and the window
// cannot be used, so the catalog is only read (CatalogReading).
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
