// Saves pictures of the desktop program for a person to look at:
//   gui_screenshots LIBRARY OUTDIR [--config FILE [BIG_FOLDER]]
// The library should hold a category "Backups" with a folder "Backup 2026"
// that has "Photos" (pictures) and "Docs" (an archive).
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QPointer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QTableView>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "gui/add_disc_dialog.h"
#include "gui/add_folder_dialog.h"
#include "gui/content_model.h"
#include "gui/duplicates_dialog.h"
#include "gui/find_dialog.h"
#include "gui/library_model.h"
#include "gui/main_window.h"
#include "gui/verify_dialog.h"
#include "gui/shared_catalogue_dialog.h"
#include "gui/preferences_dialog.h"
#include "gui/xml_export_dialog.h"
#include "gui/report_window.h"
#include "gui/help_window.h"
#include "gui/quick_find.h"

using tamber::catalog::CatalogDocument;

namespace {

void settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool save(QWidget& w, const QString& dir, const char* name) {
  settle();
  QString path = QDir(dir).filePath(name);
  bool ok = w.grab().save(path);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", path.toLocal8Bit().constData());
  return ok;
}

// The row of `name` in the list.
int rowOf(tamber::gui::MainWindow& w, const char* name) {
  auto* m = w.list()->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    if (m->index(r, 0).data().toString() == QString::fromUtf8(name)) return r;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: gui_screenshots LIBRARY OUTDIR [--config FILE]\n");
    return 2;
  }
  QString library = argv[1], out = argv[2];
  std::string config = argc > 4 ? argv[4] : "";
  QDir().mkpath(out);
  tamber::app::App app;
  if (!app.start({config})) return 1;
  tamber::gui::MainWindow w(app);
  w.resize(1200, 760);
  w.show();
  if (!w.openLibrary(library)) return 1;
  auto& doc = app.library()->catalog();
  xmlNode* backups = doc.findByName(doc.root(), "Backups", true);
  xmlNode* item = backups ? doc.findByName(backups, "Backup 2026", false) : nullptr;
  if (!item) return 1;
  bool ok = save(w, out, "main-library.png");
  w.select(item);
  // The item's fields, its volume's among them: tall enough to show them all.
  w.resize(1200, 1100);
  ok = save(w, out, "item-page.png") && ok;
  w.resize(1200, 760);
  w.openFolder({"Photos"});
  int row = rowOf(w, "f3.jpg");
  if (row >= 0) w.list()->selectRow(row);
  ok = save(w, out, "main-folder-files.png") && ok;
  w.openFolder({"Docs"});
  row = rowOf(w, "pack.zip");
  if (row >= 0) w.list()->selectRow(row);
  ok = save(w, out, "file-archive-page.png") && ok;
  w.openFolder({"Music"});
  ok = save(w, out, "music-folder.png") && ok;
  w.openFolder({"Videos"});
  row = rowOf(w, "Sommerfest 2025.mp4");
  if (row >= 0) w.list()->selectRow(row);
  ok = save(w, out, "video-page.png") && ok;
  if (auto* d = w.find()) {
    d->resize(900, 560);
    d->textBox()->setCurrentText("o");
    d->start();
    d->wait();
    settle();
    d->results()->setCurrentItem(d->results()->topLevelItem(0));
    ok = save(*d, out, "find-results.png") && ok;
    d->close();
  }
  // The shared catalogue, when a server is named (TAMBER_SERVER) that holds
  // this library published.
  if (std::getenv("TAMBER_SERVER")) {
    if (auto* d = w.sharedCatalogue()) {
      if (d->tree()->topLevelItemCount() > 0) {
        QTreeWidgetItem* top = d->tree()->topLevelItem(0);
        top->setExpanded(true);
        if (top->childCount() > 0) top->child(0)->setExpanded(true);
      }
      d->searchBox()->setText("o");
      d->search();
      settle();
      ok = save(*d, out, "shared-catalogue.png") && ok;
      d->close();
    }
  }
  // The toolbar's box, its list filled while "o" was typed.
  if (auto* quick = w.quickFind()) {
    quick->box()->setText("o");
    quick->search("o");
    for (int i = 0; i < 300 && quick->running(); ++i) {
      settle();
      QThread::msleep(10);
    }
    settle();
    ok = save(w, out, "quick-find.png") && ok;
    quick->box()->clear();
    quick->search(QString());
  }
  // Verify on the backup, whose folder changed after it was catalogued.
  if (auto* v = w.verifyItem(item)) {
    v->resize(900, 420);
    for (int i = 0; i < 500 && !v->finished(); ++i) {
      settle();
      QThread::msleep(10);
    }
    ok = v->finished() && save(*v, out, "verify-dialog.png") && ok;
    v->close();
  }
  // The add-folder dialog, then its progress on a large folder (the 5th
  // argument), caught while the job runs.
  if (QPointer<tamber::gui::AddFolderDialog> d = w.addFolder()) {
    d->folderEdit()->setText(QString::fromStdString(item ? doc.field(item, tamber::catalog::kLocation) : ""));
    d->labelEdit()->setText("Backup 2027");
    ok = save(*d, out, "add-folder-dialog.png") && ok;
    if (argc > 5) {
      d->setQuiet(true);
      d->folderEdit()->setText(argv[5]);
      d->labelEdit()->setText("Big folder");
      if (d->start()) {
        QElapsedTimer t;
        t.start();
        // Past the first progress tick; the dialog goes when the job ends.
        while (t.elapsed() < 250 && d && d->running()) QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (d && d->running()) {
          d->refresh();
          ok = save(*d, out, "add-folder-progress.png") && ok;
          // The window browses another folder meanwhile: the whole screen.
          w.select(item);
          w.openFolder({"Photos"});
          int shown = rowOf(w, "night.jpg");
          if (shown >= 0) w.list()->selectRow(shown);
          d->move(w.geometry().right() - d->width() - 40, w.geometry().bottom() - d->height() - 40);
          d->refresh();
          settle();
          QString screen = QDir(out).filePath("browse-during-add.png");
          bool grabbed = w.screen()->grabWindow(0).save(screen);
          std::printf("%s %s\n", grabbed ? "saved" : "FAILED", screen.toLocal8Bit().constData());
          ok = grabbed && ok;
          // The job may have ended (and the dialog gone) while the screen
          // was being taken.
          if (d) d->cancel();
        } else {
          std::printf("FAILED: the job ended before its progress could be seen\n");
          ok = false;
        }
      }
    }
    if (d) d->close();
  }
  // The add-disc dialog with a simulated audio CD's tracks.
  if (const char* sim = std::getenv("TAMBER_SIM_DISC")) {
    w.setSimulatedDrive(QString("sim:") + sim);
    if (auto* d = w.addDisc()) {
      d->setQuiet(true);
      d->readDisc();
      ok = save(*d, out, "add-disc-dialog.png") && ok;
      d->reject();
    }
  }
  // The report window with its preview, and the first page of the PDF it
  // saves (turned into a picture by the script).
  // A cancelled job restores the catalog: elements are looked up again.
  w.select(doc.findByName(doc.root(), "Backups", true));
  if (auto* r = w.report()) {
    r->resize(1200, 780);
    r->covers()->setChecked(true);
    r->waitForPreview();
    settle();
    ok = save(*r, out, "report-window.png") && ok;
    ok = r->saveAs(QDir(out).filePath("report.pdf")) && ok;
    r->close();
  }
  if (QTextBrowser* help = tamber::gui::showHelp(&w, app, "report.html")) {
    help->window()->resize(760, 560);
    ok = save(*help->window(), out, "help-window.png") && ok;
    help->window()->close();
  }
  w.switchLanguage("fr");
  w.select(doc.root());
  ok = save(w, out, "main-french.png") && ok;
  // In each language: a folder as details and as icons, the context menus
  // of the tree and of a file, the report window.
  for (const char* language : {"en", "fr", "it"}) {
    w.switchLanguage(language);
    auto& lib = app.library()->catalog();
    xmlNode* shownItem = lib.findByName(lib.findByName(lib.root(), "Backups", true), "Backup 2026", false);
    if (!shownItem) break;
    w.select(shownItem);
    w.openFolder({"Photos"});
    w.showIcons(false);
    int f3 = rowOf(w, "f3.jpg");
    if (f3 >= 0) w.list()->selectRow(f3);
    ok = save(w, out, qPrintable(QString("main-details-%1.png").arg(language))) && ok;
    w.showIcons(true);
    ok = save(w, out, qPrintable(QString("main-icons-%1.png").arg(language))) && ok;
    w.showIcons(false);
    auto menuShot = [&](QWidget* view, const QPoint& at, const QString& name) {
      QMenu* m = w.contextMenu(view, at);
      if (!m) return false;
      QWidget* port = qobject_cast<QAbstractScrollArea*>(view) ? qobject_cast<QAbstractScrollArea*>(view)->viewport()
                                                               : view;
      m->popup(port->mapToGlobal(at));
      settle();
      QString path = QDir(out).filePath(name);
      bool grabbed = w.screen()->grabWindow(0).copy(w.frameGeometry().adjusted(-40, -40, 240, 240)).save(path);
      std::printf("%s %s\n", grabbed ? "saved" : "FAILED", path.toLocal8Bit().constData());
      m->close();
      delete m;
      return grabbed;
    };
    if (f3 >= 0) {
      QRect cell = w.list()->visualRect(w.list()->model()->index(f3, 0));
      ok = menuShot(w.list(), cell.center(), QString("menu-file-%1.png").arg(language)) && ok;
    }
    QModelIndex treeItem = w.libraryModel()->indexOf(shownItem);
    ok = menuShot(w.tree(), w.tree()->visualRect(treeItem).center(), QString("menu-tree-%1.png").arg(language)) && ok;
    w.select(lib.findByName(lib.root(), "Backups", true));
    if (auto* r = w.report()) {
      r->resize(1200, 780);
      r->waitForPreview();
      ok = save(*r, out, qPrintable(QString("report-window-%1.png").arg(language))) && ok;
      r->close();
    }
    // Verify's summary and the duplicates, whose counts take the language's
    // singular and plural.
    if (auto* v = w.verifyItem(shownItem)) {
      v->resize(900, 420);
      for (int i = 0; i < 500 && !v->finished(); ++i) {
        settle();
        QThread::msleep(10);
      }
      ok = v->finished() && save(*v, out, qPrintable(QString("verify-dialog-%1.png").arg(language))) && ok;
      v->close();
    }
    if (auto* d = w.findDuplicates()) {
      d->resize(900, 420);
      ok = save(*d, out, qPrintable(QString("duplicates-%1.png").arg(language))) && ok;
      d->close();
    }
    {
      tamber::gui::PreferencesDialog prefs(app, &w);
      prefs.show();
      prefs.adjustSize();
      // The watch's box as a person sees it once systemctl has answered.
      QElapsedTimer asked;
      asked.start();
      while (!prefs.watchBox()->isEnabled() && asked.elapsed() < 3000) {
        QApplication::processEvents();
        QThread::msleep(10);
      }
      ok = save(prefs, out, qPrintable(QString("preferences-%1.png").arg(language))) && ok;
    }
    {
      tamber::gui::XmlExportDialog xml(app, "Backups", QDir::home().filePath("Backups.xml"), &w);
      xml.show();
      xml.adjustSize();
      ok = save(xml, out, qPrintable(QString("xml-export-%1.png").arg(language))) && ok;
    }
    if (QTextBrowser* help = tamber::gui::showHelp(&w, app, "main-window.html")) {
      help->window()->resize(760, 560);
      ok = save(*help->window(), out, qPrintable(QString("help-%1.png").arg(language))) && ok;
      help->window()->close();
    }
  }
  w.switchLanguage("en");
  app.abandon();
  return ok ? 0 : 1;
}
