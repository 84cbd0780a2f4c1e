#include "gui/background_work.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <atomic>
#include <thread>

#include "gui/window_queue.h"

namespace tamber::gui {

namespace {
std::atomic<int> catalogReaders{0};
}

CatalogReading::CatalogReading() { ++catalogReaders; }
CatalogReading::CatalogReading(CatalogReading&& other) noexcept { other.held_ = false; }
CatalogReading::~CatalogReading() {
  if (held_) --catalogReaders;
}
bool CatalogReading::any() { return catalogReaders.load() > 0; }

Status runInBackground(QWidget* parent, const QString& label, const QString& cancelText,
                       const std::function<Status(const StepFunction& step)>& work) {
  QProgressDialog dialog(label, cancelText, 0, 0, parent);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(300);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);
  std::atomic<bool> cancelled{false};
  QObject::connect(&dialog, &QProgressDialog::canceled, [&cancelled] { cancelled.store(true); });
  QEventLoop loop;
  WindowQueue queue;
  Status result;
  std::thread worker([&, reading = CatalogReading()] {
    result = work([&](long long done, long long total) {
      // Steps go to the dialog through the window's queue; those still
      // queued when the work has ended are dropped with it.
      queue.post([&dialog, done, total] {
        int max = total > 0 ? static_cast<int>(std::min<long long>(total, 1 << 30)) : 0;
        if (dialog.maximum() != max) dialog.setMaximum(max);
        dialog.setValue(static_cast<int>(std::min<long long>(done, 1 << 30)));
      });
      return !cancelled.load();
    });
    queue.post([&loop] { loop.quit(); });
  });
  loop.exec();
  worker.join();
  return result;
}

}  // namespace tamber::gui
