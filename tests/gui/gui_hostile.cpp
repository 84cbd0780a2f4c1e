// The desktop program on one damaged or malicious library, as a user would
// go through it: open it, select every category, disc and folder and open
// every folder of their listings (and their archives) as details and as
// icons, find, make a report and save it, export
// it as XML, CSV and a library; then open a sound library, import the
// hostile one into it, undo and redo the import. Every message box is answered as it appears.
//
//   gui_hostile LIBRARY SOUND_LIBRARY OUTDIR
//
// Exits 0 when every step ran (a step may refuse the library with a
// message); a crash, a hang or running out of memory is for the caller
// (tests/hostile/hostile_corpus.py --gui) to see.
#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "gui/content_model.h"
#include "gui/find_dialog.h"
#include "gui/main_window.h"
#include "gui/report_window.h"

using tamber::catalog::CatalogDocument;

namespace {

// Each step on standard error with the memory the process holds then.
void step(const char* name) {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  static const auto start = std::chrono::steady_clock::now();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "step %s: %ld MB, %.1f s\n", name, resident * 4096 / (1 << 20), seconds);
}

void collect(xmlNode* node, std::vector<xmlNode*>& out, int depth) {
  if (depth > 64) return;
  for (xmlNode* n = node->children; n; n = n->next) {
    if (CatalogDocument::isItem(n)) out.push_back(n);
    if (CatalogDocument::isCategory(n)) {
      out.push_back(n);
      collect(n, out, depth + 1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: gui_hostile LIBRARY SOUND_LIBRARY OUTDIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qa(argc, argv);
  step("started");
  std::filesystem::path out = argv[3];
  std::filesystem::create_directories(out);

  // Message boxes and dialogs that wait for an answer get "no" or "cancel".
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
        box->reject();
      }
    }
  });
  answer.start(10);

  tamber::app::App app;
  if (!app.start({(out / "tamber.cfg").string()})) return 1;
  auto* w = new tamber::gui::MainWindow(app);
  w->show();
  int steps = 0;
  if (w->openLibrary(QString::fromLocal8Bit(argv[1])) && app.library()) {
    ++steps;
    step("opened");
    auto& doc = app.library()->catalog();
    std::vector<xmlNode*> nodes{doc.root()};
    collect(doc.root(), nodes, 0);
    // Every entry is selected; on a catalog of thousands only every tenth
    // is painted before the next (painting them all is most of a minute,
    // and the tree paints its rows as it scrolls to them anyway).
    size_t painted = nodes.size() > 2000 ? 10 : 1;
    for (size_t k = 0; k < nodes.size(); ++k) {
      xmlNode* n = nodes[k];
      w->select(n);
      if (k % painted == 0 || CatalogDocument::isItem(n)) QApplication::processEvents();
      if (CatalogDocument::isItem(n)) {
        // Every entry's page, and every folder (or archive) of the listing
        // the content view shows, a level down, in both views.
        QAbstractItemModel* model = w->list()->model();
        w->showIcons(true);
        (void)w->icons()->viewport()->grab();
        w->showIcons(false);
        w->goUp();
        w->goBack();
        for (int row = 0; model && row < std::min(model->rowCount(), 50); ++row) {
          w->list()->setCurrentIndex(model->index(row, 0));
          (void)model->index(row, 0).data(tamber::gui::ContentModel::kThumbnailRole);
          if (QMenu* m = w->contextMenu(w->list(), w->list()->visualRect(model->index(row, 0)).center())) delete m;
          emit w->list()->activated(model->index(row, 0));
          QApplication::processEvents();
          w->select(n);
        }
      }
    }
    step("browsed");
    if (tamber::gui::FindDialog* d = w->find()) {
      QSignalSpy ended(d, &tamber::gui::FindDialog::searchEnded);
      d->textBox()->setCurrentText("a");
      if (d->start()) ended.wait(20000);
      d->close();
      ++steps;
    }
    step("found");
    w->select(doc.root());
    if (tamber::gui::ReportWindow* r = w->report()) {
      r->waitForPreview(60000);
      (void)r->html();
      (void)r->saveAs(QString::fromStdString((out / "report.html").string()));
      r->close();
      ++steps;
    }
    step("reported");
    (void)w->exportXmlTo(QString::fromStdString((out / "out.xml").string()));
    (void)w->exportCsvTo(QString::fromStdString((out / "out.csv").string()));
    (void)w->exportLibraryTo(QString::fromStdString((out / "out.cds").string()));
    steps += 3;
    step("exported");
    app.abandon();
  }
  if (w->openLibrary(QString::fromLocal8Bit(argv[2]))) {
    // The import taken back and made again, its streams kept by the undo
    // history in between.
    (void)w->importLibraryFrom(QString::fromLocal8Bit(argv[1]));
    (void)w->undo();
    (void)w->redo();
    (void)app.saveLibrary();
    ++steps;
    step("imported");
  }
  w->shutdown();
  delete w;
  std::printf("%d steps\n", steps);
  return 0;
}
