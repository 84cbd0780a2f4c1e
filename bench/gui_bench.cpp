// The desktop program on a large library, against the command line:
//   gui_bench LIBRARY TAMBER [BIG_ITEM_LABEL [PICTURES_ITEM_LABEL]]
// 1. The time from nothing to the window shown with the library tree filled
//    (the settings, the library opened, the tree's top levels expanded and
//    painted), against `tamber tree` on the same library.
// 2. A folder of 100,000 files: the time until its first rows are painted
//    (the rest is read on a worker), until it is read whole, and the time
//    of each step when scrolling through it a page at a time.
// 3. A folder of 100,000 pictures as icons: each step of scrolling a page at
//    a time (the thumbnails read as they come into sight), and the memory.
// 4. The report window on the whole library: the time until its preview
//    shows, the longest the window went without answering meanwhile, and
//    the memory the report took.
// 5. Peak memory (maximum resident set) at the end.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QTreeWidget>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "gui/content_model.h"
#include "gui/main_window.h"
#include "gui/quick_find.h"
#include "gui/report_window.h"

using tamber::catalog::CatalogDocument;

namespace {

void paint(QWidget& w) {
  w.repaint();
  QApplication::processEvents();
}

double cliTree(const QString& tamber, const QString& library) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(tamber, {"-L", library, "tree"});
    p.waitForFinished(-1);
    best = std::min(best, t.nsecsElapsed() / 1e9);
  }
  return best;
}

// The largest resident set since the last reset, in MB.
double peakMB() {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (QByteArray line : f.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
  }
  return 0;
}

void resetPeak() {
  QFile f("/proc/self/clear_refs");
  if (f.open(QIODevice::WriteOnly)) f.write("5");
}

xmlNode* itemNamed(tamber::app::App& app, const char* label) {
  auto& doc = app.library()->catalog();
  for (xmlNode* c = doc.root()->children; c; c = c->next) {
    if (!CatalogDocument::isCategory(c)) continue;
    if (xmlNode* item = doc.findByName(c, label, false)) return item;
  }
  return nullptr;
}

// Scrolls `view` a page at a time; the median and slowest step in ms.
std::pair<double, double> scrollPages(QAbstractItemView* view) {
  QScrollBar* bar = view->verticalScrollBar();
  std::vector<double> steps;
  for (int v = 0; v <= bar->maximum(); v += std::max(1, bar->pageStep())) {
    QElapsedTimer s;
    s.start();
    bar->setValue(v);
    paint(*view);
    steps.push_back(s.nsecsElapsed() / 1e6);
    if (steps.size() >= 400) break;
  }
  std::sort(steps.begin(), steps.end());
  if (steps.empty()) return {0, 0};
  return {steps[steps.size() / 2], steps.back()};
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: gui_bench LIBRARY TAMBER [BIG_ITEM_LABEL [PICTURES_ITEM_LABEL]]\n");
    return 2;
  }
  QString library = argv[1], tamber = argv[2];
  const char* big = argc > 3 ? argv[3] : "Hundred thousand";
  const char* pictures = argc > 4 ? argv[4] : "Hundred thousand pictures";
  std::printf("== tamber-gui on %s\n", argv[1]);

  QElapsedTimer t;
  t.start();
  tamber::app::App app;
  if (!app.start({})) return 1;
  tamber::gui::MainWindow w(app);
  w.resize(1200, 800);
  w.show();
  if (!w.openLibrary(library)) return 1;
  w.tree()->expandAll();
  paint(w);
  double up = t.nsecsElapsed() / 1e9;
  auto stats = app.library()->catalog().libraryStatistics();
  double cli = cliTree(tamber, library);
  std::printf("window up with the tree (%d categories, %d folders): %.3f s; tamber tree %.3f s; ratio %.2f\n",
              stats.categories, stats.folders, up, cli, up / cli);

  // The toolbar's box, typed into a letter at a time: each keystroke's
  // search, from the keystroke to its rows in the list (and to its end).
  if (auto* quick = w.quickFind()) {
    const char* word = std::getenv("QUICK_FIND_WORD") ? std::getenv("QUICK_FIND_WORD") : "holiday";
    bool ended = false;
    QObject::connect(quick, &tamber::gui::QuickFind::searchEnded, [&ended](int) { ended = true; });
    double slowest = 0;
    std::string typed;
    for (const char* c = word; *c; ++c) {
      typed += *c;
      ended = false;
      QElapsedTimer k;
      k.start();
      quick->search(QString::fromStdString(typed));
      double first = -1;
      while (!ended && k.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        if (first < 0 && quick->results()->topLevelItemCount() > 0) first = k.nsecsElapsed() / 1e6;
      }
      double whole = k.nsecsElapsed() / 1e6;
      if (first < 0) first = whole;
      slowest = std::max(slowest, first);
      std::printf("box \"%s\": first rows in %.1f ms, %d rows, ended in %.1f ms\n", typed.c_str(), first,
                  quick->results()->topLevelItemCount(), whole);
    }
    std::printf("search as you type: slowest keystroke to its first rows %.1f ms (aim <= 50 ms)\n", slowest);
    quick->search(QString());
  }

  // The folder item holding 100,000 files in one folder.
  if (xmlNode* item = itemNamed(app, big)) {
    w.select(item);
    paint(w);
    auto* list = w.list();
    std::string first = list->model()->rowCount() ? list->model()->index(0, 0).data().toString().toStdString() : "";
    t.restart();
    w.openFolder({first});
    paint(w);
    double shown = t.nsecsElapsed() / 1e9;
    while (w.contentModel()->reading()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    paint(w);
    double whole = t.nsecsElapsed() / 1e9;
    int rows = list->model()->rowCount();
    std::printf("folder of %d files: first rows painted in %.3f s, read whole in %.3f s\n", rows, shown, whole);
    auto [median, slowest] = scrollPages(list);
    std::printf("scrolling a page at a time: median %.2f ms, slowest %.2f ms\n", median, slowest);
    t.restart();
    list->sortByColumn(1, Qt::DescendingOrder);
    paint(*list);
    std::printf("sorted by size: %.3f s\n", t.nsecsElapsed() / 1e9);
    list->sortByColumn(0, Qt::AscendingOrder);
  } else {
    std::printf("no item named \"%s\": the large folder was not measured\n", big);
  }

  // 100,000 pictures as icons.
  if (xmlNode* item = itemNamed(app, pictures)) {
    w.select(item);
    w.showIcons(true);
    paint(w);
    resetPeak();
    t.restart();
    w.openFolder({"all"});
    paint(w);
    double shown = t.nsecsElapsed() / 1e9;
    while (w.contentModel()->reading()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    auto [median, slowest] = scrollPages(w.icons());
    std::printf("icons of %d pictures: first painted in %.3f s; scrolling a page at a time: median %.2f ms, "
                "slowest %.2f ms; peak memory meanwhile %.1f MB\n",
                w.icons()->model()->rowCount(), shown, median, slowest, peakMB());
    w.showIcons(false);
  } else {
    std::printf("no item named \"%s\": the icons were not measured\n", pictures);
  }

  // The report window on the whole library, the window's answers timed
  // while its preview is made.
  w.select(app.library()->catalog().root());
  paint(w);
  resetPeak();
  double before = peakMB();
  long long longest = 0;
  QElapsedTimer gap;
  gap.start();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, gap.elapsed());
    gap.restart();
  });
  tick.start(5);
  t.restart();
  auto* report = w.report();
  // The window is up: from here on its preview is made on a worker.
  double opened = t.nsecsElapsed() / 1e9;
  QApplication::processEvents();
  longest = 0;
  gap.restart();
  while (report && report->building()) QApplication::processEvents(QEventLoop::AllEvents, 5);
  QApplication::processEvents();
  double previewed = t.nsecsElapsed() / 1e9;
  tick.stop();
  if (report) {
    std::printf("report window on %lld entries: up in %.3f s, preview of %lld shown in %.3f s; the window answered "
                "within %lld ms while it was made; memory %.1f MB more\n",
                report->entriesInSelection(), opened, report->previewLimit(), previewed, longest, peakMB() - before);
    report->close();
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf("peak memory: %.1f MB\n", u.ru_maxrss / 1024.0);
  app.abandon();
  return 0;
}
