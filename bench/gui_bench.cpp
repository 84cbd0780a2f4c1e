// The desktop program on a large library, against the command line:
//   gui_bench LIBRARY TAMBER [BIG_ITEM_LABEL]
// 1. The time from nothing to the window shown with the library tree filled
//    (the settings, the library opened, the tree's top levels expanded and
//    painted), against `tamber tree` on the same library.
// 2. A folder of 100,000 files: the time until its first rows are painted,
//    and the time of each step when scrolling through it a page at a time.
// 3. Peak memory (maximum resident set) at the end.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "gui/main_window.h"

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

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: gui_bench LIBRARY TAMBER [BIG_ITEM_LABEL]\n");
    return 2;
  }
  QString library = argv[1], tamber = argv[2];
  const char* big = argc > 3 ? argv[3] : "Hundred thousand";
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

  // The folder item holding 100,000 files in one folder.
  auto& doc = app.library()->catalog();
  xmlNode* item = nullptr;
  for (xmlNode* c = doc.root()->children; c && !item; c = c->next) {
    if (CatalogDocument::isCategory(c)) item = doc.findByName(c, big, false);
  }
  if (!item) {
    std::printf("no item named \"%s\": the large folder was not measured\n", big);
    return 0;
  }
  w.select(item);
  paint(w);
  auto* list = w.list();
  std::string first = list->model()->rowCount() ? list->model()->index(0, 0).data().toString().toStdString() : "";
  t.restart();
  w.openFolder({first});
  paint(w);
  double shown = t.nsecsElapsed() / 1e9;
  int rows = list->model()->rowCount();
  std::printf("folder of %d files: first rows painted in %.3f s\n", rows, shown);
  QScrollBar* bar = list->verticalScrollBar();
  std::vector<double> steps;
  for (int v = 0; v <= bar->maximum(); v += std::max(1, bar->pageStep())) {
    QElapsedTimer s;
    s.start();
    bar->setValue(v);
    paint(*list);
    steps.push_back(s.nsecsElapsed() / 1e6);
    if (steps.size() >= 400) break;
  }
  std::sort(steps.begin(), steps.end());
  if (!steps.empty()) {
    std::printf("scrolling a page at a time (%zu pages): median %.2f ms, slowest %.2f ms\n", steps.size(),
                steps[steps.size() / 2], steps.back());
  }
  t.restart();
  list->sortByColumn(1, Qt::DescendingOrder);
  paint(*list);
  std::printf("sorted by size: %.3f s\n", t.nsecsElapsed() / 1e9);
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf("peak memory: %.1f MB\n", u.ru_maxrss / 1024.0);
  app.abandon();
  return 0;
}
