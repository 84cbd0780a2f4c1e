// Long work of the library (exports, imports, reports) on a worker thread
// while a window-modal progress dialog shows its steps.
#pragma once

#include <QString>
#include <functional>

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

}  // namespace tamber::gui
