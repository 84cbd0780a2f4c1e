// The desktop program on Qt's offscreen platform: start-up and shutdown,
// one instance, browsing a catalogued folder, edits (move by drag and drop,
// delete with its question, rename, new category) and the language switch.
#include <unistd.h>

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QMainWindow>
#include <QSpinBox>
#include <QMenu>
#include <QGroupBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
#include <QThread>
#include <QToolBar>
#include <QRegularExpression>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QStatusBar>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <map>
#include <fstream>
#include <thread>

#include "app/app.h"
#include "app/disc_database.h"
#include "catalog/catalog_document.h"
#include "gui/add_disc_dialog.h"
#include "gui/add_folder_dialog.h"
#include "gui/content_model.h"
#include "gui/find_dialog.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"
#include "gui/item_dialog.h"
#include "gui/library_model.h"
#include "gui/main_window.h"
#include "gui/xml_export_dialog.h"
#include "gui/preferences_dialog.h"
#include "app/add_folder.h"
#include "app/disc_presence.h"
#include "gui/player_bar.h"
#include "gui/report_window.h"
#include "gui/single_instance.h"
#include "gui/window_queue.h"
#include "scan/scanner.h"
#include "search/search_criteria.h"
#include "tests/disc/loopback_server.h"
#include "tests/run_command.h"
#include "gui/quick_find.h"
#include "search/name_index.h"
#include "tests/temp_dir.h"

using tamber::catalog::CatalogDocument;
namespace search = tamber::search;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

namespace {

// Answers the next question box with `button`.
void answerNextQuestion(QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [button] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        box->button(button)->click();
        return;
      }
    }
  });
}

// What a person reads in a window, in widget order: window titles, labels,
// buttons, group boxes, placeholders, table heads and menu entries. Data
// (line edits' text, models' rows) is not the program's own words.
QStringList wordsOf(QWidget* top) {
  QStringList out;
  auto add = [&](const QString& t) {
    QString plain = t;
    plain.remove('&');
    out << plain.trimmed();
  };
  add(top->windowTitle());
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (auto* l = qobject_cast<QLabel*>(w)) add(l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) add(b->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) add(g->title());
    if (auto* e = qobject_cast<QLineEdit*>(w)) add(e->placeholderText());
    if (auto* t = qobject_cast<QTableWidget*>(w)) {
      for (int c = 0; c < t->columnCount(); ++c) add(t->horizontalHeaderItem(c) ? t->horizontalHeaderItem(c)->text() : "");
    }
  }
  std::function<void(QMenu*)> menu = [&](QMenu* m) {
    for (QAction* a : m->actions()) {
      add(a->text());
      if (a->menu()) menu(a->menu());
    }
  };
  if (auto* mw = qobject_cast<QMainWindow*>(top)) {
    for (QAction* a : mw->menuBar()->actions()) {
      add(a->text());
      if (a->menu()) menu(a->menu());
    }
  }
  return out;
}

// Texts cut short: a label or button narrower than its text needs.
QStringList clippedIn(QWidget* top) {
  QStringList out;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    auto* l = qobject_cast<QLabel*>(w);
    auto* b = qobject_cast<QAbstractButton*>(w);
    if ((l && !l->wordWrap() && !l->text().isEmpty() && l->pixmap().isNull()) || (b && !b->text().isEmpty())) {
      if (w->width() + 1 < w->sizeHint().width()) {
        out << QString("%1 (%2 < %3)").arg(l ? l->text() : b->text()).arg(w->width()).arg(w->sizeHint().width());
      }
    }
  }
  return out;
}

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

  tamber::test_support::TempDir tmp;
  std::string config, library;

  std::string tamber(const std::string& args) {
    auto r = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(library) + " --config " + shellQuote(config) +
                        " " + args);
    return r.status == 0 ? r.out : "FAILED " + r.out;
  }

 private slots:
  // A tab order set before the widgets share a window is dropped with a
  // warning: the keyboard would then go through a dialog out of order.
  void init() { QTest::failOnWarning(QRegularExpression("setTabOrder")); }

  void initTestCase() {
    tamber::search::installNameIndex();  // as the program does
    // The find test looks for "p2" anywhere in the recorded texts, folder
    // locations included: the temporary folder's random name must not hold it.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = tmp.path.filename().string();
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      if (name.find("p2") == std::string::npos) break;
      auto safe = tmp.path.parent_path() / ("tamber-gui-" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
      std::error_code ec;
      std::filesystem::rename(tmp.path, safe, ec);
      if (!ec) tmp.path = safe;
    }
    config = (tmp.path / "tamber.cfg").string();
    library = (tmp.path / "sample.cds").string();
    auto tree = tmp.path / "tree";
    std::filesystem::create_directories(tree / "Docs" / "Old");
    std::filesystem::create_directories(tree / "Photos");
    std::ofstream(tree / "Docs" / "notes.txt") << "notes";
    std::ofstream(tree / "Docs" / "Old" / "report.txt") << "old";
    for (int i = 0; i < 30; ++i) std::ofstream(tree / "Photos" / ("p" + std::to_string(i) + ".txt")) << i;
    QVERIFY(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(library)).status == 0);
    QCOMPARE(tamber("add-folder -q " + shellQuote(tree.string()) + " --label Backup --category Backups")
                 .rfind("FAILED", 0),
             std::string::npos);
    QCOMPARE(tamber("add-folder -q " + shellQuote((tree / "Docs").string()) + " --label Papers --category Other")
                 .rfind("FAILED", 0),
             std::string::npos);
  }

  // Workers hand their results to the window's thread through its queue:
  // each worker's closures run there in the order posted, and none runs
  // once the window they belong to is gone.
  void workersHandWorkToTheWindowInOrder() {
    tamber::gui::WindowQueue queue;
    constexpr int kWorkers = 4, kEach = 2000;
    std::vector<int> next(kWorkers, 0);
    int outOfOrder = 0, elsewhere = 0;
    QThread* window = QThread::currentThread();
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int i = 0; i < kEach; ++i) {
          queue.post([&, w, i] {
            if (next[w]++ != i) ++outOfOrder;
            if (QThread::currentThread() != window) ++elsewhere;
          });
        }
      });
    }
    for (auto& t : workers) t.join();
    QTRY_VERIFY(std::all_of(next.begin(), next.end(), [](int n) { return n == kEach; }));
    QCOMPARE(outOfOrder, 0);
    QCOMPARE(elsewhere, 0);

    int ran = 0;
    auto* owner = new QObject;
    auto* owned = new tamber::gui::WindowQueue(owner);
    owned->post([&] {
      ++ran;
      delete owner;
    });
    owned->post([&] { ++ran; });
    QTRY_COMPARE(ran, 1);
    QTest::qWait(20);
    QCOMPARE(ran, 1);

    {
      tamber::gui::WindowQueue gone;
      gone.post([&] { ++ran; });
    }
    QTest::qWait(20);
    QCOMPARE(ran, 1);
  }

  // The window's place and the column widths are kept in the settings and
  // restored at the next start.
  void startUpAndShutdownKeepThePlacement() {
    {
      tamber::app::App app;
      QVERIFY(app.start({config}));
      tamber::gui::MainWindow w(app);
      w.show();
      QVERIFY(w.openLibrary(QString::fromStdString(library)));
      QVERIFY(w.windowTitle().startsWith("Tamber+ - [" + QString::fromStdString(library) + "]"));
      w.setGeometry(40, 50, 900, 640);
      QApplication::processEvents();
      w.list()->setColumnWidth(0, 333);
      w.findChild<QDockWidget*>("coverBar")->hide();  // a bar closed stays closed
      QVERIFY(w.shutdown());
    }
    tamber::app::App app;
    QVERIFY(app.start({config}));
    QCOMPARE(app.settings().getInt("window_size", "window_leftPos", 65535), 40);
    QCOMPARE(app.settings().getInt("window_size", "window_bottomPos", 65535), 50 + 640);
    QCOMPARE(app.settings().getInt("window_size", "maximized", 7), 0);
    QVERIFY(app.settings().has("window_size", "cx_win_af"));
    QCOMPARE(app.settings().getList("cx_listctrl_cols/items", "cx_d").at(0), std::string("333"));
    QVERIFY(app.recent().entries().size() >= 1);
    QCOMPARE(app.settings().getInt("BarState-Summary", "Bars", 0), 5);
    // The docking bars' most recent places: the contents bar docked at the
    // left, where it floated never yet stored.
    QCOMPARE(app.settings().getInt("BarState-Bar0", "MRUDockID", 7), 0);
    QVERIFY(app.settings().getInt("BarState-Bar0", "MRUDockBottomPos", 0) > 100);
    QVERIFY(!app.settings().has("BarState-Bar0", "MRUFloatXPos"));
    {
      tamber::gui::MainWindow w(app);
      QCOMPARE(w.geometry(), QRect(40, 50, 900, 640));
      w.show();
      auto* contents = w.findChild<QDockWidget*>("contentsBar");
      QVERIFY(contents->isVisible());
      QVERIFY(!w.findChild<QDockWidget*>("coverBar")->isVisible());
      // Floated somewhere, docked again: it floats there the next time.
      contents->setFloating(true);
      contents->move(310, 220);
      QApplication::processEvents();
      w.storeSettings();
      contents->setFloating(false);
      QApplication::processEvents();
      w.storeSettings();
      QCOMPARE(app.settings().getInt("BarState-Bar0", "MRUFloatXPos", 0), 310);
      QCOMPARE(app.settings().getInt("BarState-Bar0", "MRUFloatYPos", 0), 220);
    }
    {
      tamber::gui::MainWindow w(app);
      w.show();
      auto* contents = w.findChild<QDockWidget*>("contentsBar");
      QVERIFY(!contents->isFloating());
      contents->setFloating(true);
      QApplication::processEvents();
      QCOMPARE(contents->pos(), QPoint(310, 220));
      contents->setFloating(false);
    }
    // Closed maximized: it opens maximized, and made normal it takes the
    // default rectangle, not the one stored before.
    app.settings().putInt("window_size", "maximized", 1);
    {
      tamber::gui::MainWindow w(app);
      QVERIFY(w.windowState() & Qt::WindowMaximized);
      QCOMPARE(w.normalGeometry().size(), QSize(1100, 720));
    }
    app.abandon();
  }

  // A window less than 100 pixels high, or never placed, starts at the
  // default place.
  void aFlatWindowIsNotRestored() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "flat.cfg").string()}));
    app.settings().putInt("window_size", "window_leftPos", 10);
    app.settings().putInt("window_size", "window_topPos", 10);
    app.settings().putInt("window_size", "window_rightPos", 500);
    app.settings().putInt("window_size", "window_bottomPos", 100);
    tamber::gui::MainWindow w(app);
    QVERIFY(w.geometry().height() > 100);
    app.abandon();
  }

  void aSecondStartHandsItsLibraryToTheFirst() {
    tamber::gui::SingleInstance first("key-of-this-test"), second("key-of-this-test"), other("another-key");
    QSignalSpy spy(&first, &tamber::gui::SingleInstance::activated);
    QVERIFY(first.claim(""));
    QVERIFY(other.claim(""));  // another settings file: another instance
    bool secondIsFirst = true;
    QTimer::singleShot(0, [&] { secondIsFirst = second.claim("/some/library.cds"); });
    QVERIFY(spy.wait(3000));
    QVERIFY(!secondIsFirst);
    QCOMPARE(spy.at(0).at(0).toString(), QString("/some/library.cds"));
  }

  // The tree, a folder's files and a file's page; folders open on double
  // click; the recorded folder tree is read as it is opened.
  void browsesFoldersAndFiles() {
    tamber::app::App app;
    QVERIFY(app.start({config}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto& doc = app.library()->catalog();
    xmlNode* backup = doc.findByName(doc.findByName(doc.root(), "Backups", true), "Backup", false);
    QVERIFY(backup);
    w.select(backup);
    auto* list = w.list();
    QCOMPARE(list->model()->rowCount(), 2);  // Docs, Photos: folders first, by name
    QCOMPARE(list->model()->index(0, 0).data().toString(), QString("Docs"));
    QTest::keyClick(list, Qt::Key_Down);
    list->setCurrentIndex(list->model()->index(1, 0));
    emit list->activated(list->model()->index(1, 0));
    QCOMPARE(list->model()->rowCount(), 30);
    list->setCurrentIndex(list->model()->index(0, 0));
    QVERIFY(w.page()->toPlainText().contains("p0.txt"));
    QVERIFY(w.page()->toPlainText().contains("Backup/Photos"));
    // Sorted by size (as numbers): the one-byte files p0-p9 come first, the
    // two-byte ones p10-p29 last.
    list->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(list->model()->index(0, 0).data().toString().size(), 6);
    QCOMPARE(list->model()->index(29, 0).data().toString().size(), 7);
    list->sortByColumn(1, Qt::DescendingOrder);
    QCOMPARE(list->model()->index(0, 0).data().toString().size(), 7);
    // The recorded folder tree: Docs and Photos, then Old below Docs.
    QTreeWidget* folders = w.folders();
    QCOMPARE(folders->topLevelItem(0)->childCount(), 2);
    QTreeWidgetItem* docs = folders->topLevelItem(0)->child(0);
    docs->setExpanded(true);
    QCOMPARE(docs->childCount(), 1);
    folders->setCurrentItem(docs->child(0));
    QCOMPARE(list->model()->rowCount(), 1);
    QCOMPARE(list->model()->index(0, 0).data().toString(), QString("report.txt"));
    // The cover picture shows beside the tree; a folder without one says so.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QString file = QString::fromStdString((tmp.path / "cover.png").string());
    QVERIFY(picture.save(file));
    QVERIFY(app.library()->setCover(backup, file.toStdString()));
    w.select(doc.root());
    QVERIFY(w.cover()->pixmap().isNull());
    w.select(backup);
    QVERIFY(!w.cover()->pixmap().isNull());
    w.select(doc.findByName(doc.findByName(doc.root(), "Other", true), "Papers", false));
    QVERIFY(w.cover()->pixmap().isNull());
    QVERIFY(!w.cover()->text().isEmpty());
    app.abandon();
  }

  // Dragging a folder onto another category moves it with its streams;
  // deleting asks first; a rename marks the window modified.
  // An audio disc's tracks show their length as minutes and seconds, and
  // sort by it.
  void audioTracksShowTheirLength() {
    auto lib = tmp.path / "audio.cds";
    auto one = tmp.path / "one";
    std::filesystem::create_directories(one);
    std::ofstream(one / "x.txt") << "x";
    QVERIFY(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(lib.string())).status == 0);
    QVERIFY(runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) + " add-folder -q " +
                       shellQuote(one.string()) + " --label Disc --category Music")
                .status == 0);
    // The listing as the add-disc job writes it for three tracks.
    std::ofstream(tmp.path / "tracks.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a1 xmlns=\"urn:CDs\" i=\"1\">"
           "<b><c>Intro</c><f>cda</f><e>13499</e></b>"
           "<b><c>Song</c><f>cda</f><e>15802</e></b>"
           "<b><c>Track03.cda</c><e>750</e></b></a1>";
    QVERIFY(runCommand(std::string(TAMBER_CLI) + " storage put " + shellQuote(lib.string()) + " col1-1.xml " +
                       shellQuote((tmp.path / "tracks.xml").string()))
                .status == 0);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "audio.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(lib.string())));
    auto& doc = app.library()->catalog();
    w.select(doc.findByName(doc.findByName(doc.root(), "Music", true), "Disc", false));
    auto* m = w.list()->model();
    QCOMPARE(m->rowCount(), 3);
    int duration = -1;
    for (int c = 0; c < m->columnCount(); ++c) {
      if (m->headerData(c, Qt::Horizontal).toString() == "Duration") duration = c;
    }
    QVERIFY(duration > 0);
    QCOMPARE(m->index(0, 0).data().toString(), QString("Intro"));
    QCOMPARE(m->index(0, duration).data().toString(), QString("2:59"));
    QCOMPARE(m->index(1, duration).data().toString(), QString("3:30"));
    QCOMPARE(m->index(2, duration).data().toString(), QString("0:10"));
    QVERIFY(m->index(0, 1).data().toString().isEmpty());  // no size for a track
    w.list()->sortByColumn(duration, Qt::AscendingOrder);
    QCOMPARE(m->index(0, 0).data().toString(), QString("Track03.cda"));
    app.abandon();
  }

  void editsMoveDeleteAndRename() {
    tamber::app::App app;
    QVERIFY(app.start({config}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto& doc = app.library()->catalog();
    auto* model = w.libraryModel();
    xmlNode* papers = doc.findByName(doc.findByName(doc.root(), "Other", true), "Papers", false);
    xmlNode* backups = doc.findByName(doc.root(), "Backups", true);
    QVERIFY(papers && backups);
    std::unique_ptr<QMimeData> drag(model->mimeData({model->indexOf(papers)}));
    QVERIFY(drag);
    model->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, model->indexOf(backups));
    QApplication::processEvents();  // the window moves it once the drop is over
    xmlNode* moved = doc.findByName(backups, "Papers", false);
    QVERIFY(moved);
    QVERIFY(!doc.findByName(doc.findByName(doc.root(), "Other", true), "Papers", false));
    QVERIFY(w.windowTitle().endsWith("*]"));
    QCOMPARE(w.tree()->currentIndex(), model->indexOf(moved));
    w.openFolder({});
    QCOMPARE(w.list()->model()->rowCount(), 2);  // its listing came along: notes.txt, Old

    // Delete: "No" keeps it, "Yes" removes it.
    answerNextQuestion(QMessageBox::No);
    QMetaObject::invokeMethod(&w, [&] {
      for (QAction* a : w.menuBar()->actions()[1]->menu()->actions()) {
        if (a->shortcut() == QKeySequence::Delete) a->trigger();
      }
    });
    QApplication::processEvents();
    QVERIFY(doc.findByName(backups, "Papers", false));
    answerNextQuestion(QMessageBox::Yes);
    for (QAction* a : w.menuBar()->actions()[1]->menu()->actions()) {
      if (a->shortcut() == QKeySequence::Delete) a->trigger();
    }
    QVERIFY(!doc.findByName(backups, "Papers", false));

    // A folder's fields: the price is checked and stored in its form; an
    // audio field stays closed for a folder.
    xmlNode* item = doc.findByName(backups, "Backup", false);
    tamber::gui::ItemDialog edit(app, item);
    QVERIFY(!edit.edit("artist")->isEnabled());
    edit.edit("price")->setText("abc");
    QString problem;
    QVERIFY(!edit.apply(problem));
    QVERIFY(problem.contains("abc"));
    edit.edit("price")->setText("12,5");
    edit.edit("comment")->setText("shelf 3");
    QVERIFY(edit.apply(problem));
    QCOMPARE(doc.field(item, tamber::catalog::kPrice), std::string("12.50"));
    QCOMPARE(doc.field(item, tamber::catalog::kComment), std::string("shelf 3"));

    // Rename in place.
    QModelIndex b = model->indexOf(backups);
    model->setData(b, "Old backups", Qt::EditRole);
    QApplication::processEvents();  // renamed by the window once the editor has closed
    QCOMPARE(QString::fromStdString(doc.field(backups, tamber::catalog::kCategoryName)), QString("Old backups"));
    app.abandon();  // the library file stays as it was
  }

  // The find dialog fills its list, ends with the count line, keeps the text
  // in the history, and a chosen result is shown in the window.
  void findsAndShowsAResult() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "find.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    tamber::gui::FindDialog* d = w.find();
    QVERIFY(d);
    QSignalSpy ended(d, &tamber::gui::FindDialog::searchEnded);
    d->textBox()->setCurrentText("p2");
    QVERIFY(d->start());
    QVERIFY(ended.wait(10000));
    QCOMPARE(ended.at(0).at(0).toInt(), 11);  // p2 and p20-p29
    QTreeWidget* results = d->results();
    QCOMPARE(results->topLevelItemCount(), 11);
    QCOMPARE(results->topLevelItem(0)->text(1), QString("Photos/p2.txt"));
    QCOMPARE(results->topLevelItem(0)->text(0), QString("Backups->Backup"));
    QVERIFY(d->findChild<QLabel*>() != nullptr);
    QCOMPARE(search::loadHistory(app.settings()).at(0), std::string("p2"));
    emit results->itemActivated(results->topLevelItem(3), 0);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Photos"});
    QCOMPARE(w.list()->currentIndex().data().toString(), results->topLevelItem(3)->text(1).mid(7));
    // A hit on another field than a name says which, by its name.
    d->textBox()->setCurrentText("Backup");
    QVERIFY(d->start());
    QVERIFY(ended.wait(10000));
    QVERIFY(!results->findItems("Backup <Label>", Qt::MatchExactly, 2).isEmpty());
    // Nothing found: zero rows, and a regular expression that does not
    // compile starts nothing.
    d->textBox()->setCurrentText("no-such-name");
    QVERIFY(d->start());
    QVERIFY(ended.wait(10000));
    QCOMPARE(results->topLevelItemCount(), 0);
    d->findChildren<QCheckBox*>().at(2)->setChecked(true);  // regular expression
    d->textBox()->setCurrentText("(");
    QVERIFY(!d->start());
    d->close();
    app.abandon();
  }

  // The toolbar's box searches names as they are typed: each keystroke
  // starts the search again, Enter shows the first row in the window,
  // Escape closes the list. It searches with the library's name index.
  void theToolbarBoxFindsNamesAsTheyAreTyped() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "quick.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    tamber::gui::QuickFind* quick = w.quickFind();
    QVERIFY(quick);
    QSignalSpy ended(quick, &tamber::gui::QuickFind::searchEnded);
    quick->box()->setFocus();
    QTest::keyClicks(quick->box(), "p2");
    QTRY_VERIFY(!ended.isEmpty());
    QTRY_COMPARE(ended.last().at(0).toInt(), 11);  // p2 and p20-p29: names only
    QTreeWidget* rows = quick->results();
    QVERIFY(rows->isVisible());
    QCOMPARE(rows->topLevelItemCount(), 11);
    QCOMPARE(rows->topLevelItem(0)->text(0), QString("Backups->Backup  Photos/p2.txt"));
    ended.clear();
    QTest::keyClicks(quick->box(), "5");
    QTRY_VERIFY(!ended.isEmpty());
    QCOMPARE(ended.last().at(0).toInt(), 1);
    QCOMPARE(rows->topLevelItemCount(), 1);
    QTest::keyClick(quick->box(), Qt::Key_Return);
    QVERIFY(!rows->isVisible());
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Photos"});
    QCOMPARE(w.list()->currentIndex().data().toString(), QString("p25.txt"));
    // A text found nowhere lists nothing; Escape closes the list; an empty
    // box starts nothing.
    ended.clear();
    QTest::keyClicks(quick->box(), "zq");
    QTRY_VERIFY(!ended.isEmpty());
    QCOMPARE(ended.last().at(0).toInt(), 0);
    QTest::keyClick(quick->box(), Qt::Key_Escape);
    QVERIFY(!rows->isVisible());
    quick->box()->clear();
    quick->search(QString());
    QVERIFY(!quick->running());
    // A search still running is stopped by the next, or before a change.
    quick->search("p");
    quick->search("p1");
    quick->finish();
    QVERIFY(!quick->running());
    app.abandon();
  }

  // The add-folder dialog: what it refuses, a folder added end to end (the
  // new item selected, the title marked), and a cancelled job that leaves
  // the catalog as it was.
  void addsAFolderAndCancelsOne() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "add.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto& doc = app.library()->catalog();
    std::string before = doc.currentText();

    tamber::gui::AddFolderDialog* d = w.addFolder();
    QVERIFY(d);
    d->setQuiet(true);
    // The keyboard goes from the label to the category, as the form reads.
    QVERIFY(!d->start());  // no folder
    d->folderEdit()->setText(QString::fromStdString((tmp.path / "tree" / "Photos").string()));
    QCOMPARE(d->labelEdit()->text(), QString("Photos"));  // the folder's name
    d->labelEdit()->setText("A/B");
    QVERIFY(!d->start());
    QVERIFY(d->lastMessage().contains("/")) ;
    d->labelEdit()->setText("Camera roll");
    d->categoryBox()->setCurrentText("Pictures/2026");
    QSignalSpy done(d, &tamber::gui::AddFolderDialog::finished);
    QVERIFY(d->start());
    QVERIFY(done.wait(20000));
    QCOMPARE(done.at(0).at(0).toBool(), true);
    xmlNode* item = doc.findByName(doc.findByName(doc.findByName(doc.root(), "Pictures", true), "2026", true),
                                   "Camera roll", false);
    QVERIFY(item);
    QCOMPARE(w.libraryModel()->node(w.tree()->currentIndex()), item);
    QCOMPARE(w.list()->model()->rowCount(), 30);
    QVERIFY(w.windowTitle().endsWith("*]"));
    QVERIFY(d->lastMessage().contains("Camera roll"));
    QVERIFY(app.settings().has("serialized_param", "param_dlgfolder"));
    // The dialog stays for the next folder, its options as they were.
    QVERIFY(d->isVisible());
    QVERIFY(d->folderEdit()->text().isEmpty());
    QCOMPARE(d->categoryBox()->currentText(), QString("Pictures/2026"));

    // Cancelled at once: no item, no category, the catalog as it was.
    std::string afterAdd = doc.currentText();
    auto big = tmp.path / "big";
    for (int f = 0; f < 40; ++f) {
      std::filesystem::create_directories(big / ("d" + std::to_string(f)));
      for (int i = 0; i < 50; ++i) std::ofstream(big / ("d" + std::to_string(f)) / std::to_string(i)) << i;
    }
    d->folderEdit()->setText(QString::fromStdString(big.string()));
    d->categoryBox()->setCurrentText("Cancelled");
    QSignalSpy ended(d, &tamber::gui::AddFolderDialog::finished);
    QVERIFY(d->start());
    // Escape alone does not stop a job.
    QTest::keyClick(d, Qt::Key_Escape);
    QVERIFY(d->running());
    QVERIFY(d->isVisible());
    QElapsedTimer answer;
    answer.start();
    d->cancel();
    QVERIFY(answer.elapsed() < 1000);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), false);
    QVERIFY2(d->lastMessage().isEmpty(), qPrintable(d->lastMessage()));  // a cancel is silent
    QVERIFY(!doc.findByName(doc.root(), "Cancelled", true));
    QCOMPARE(doc.currentText(), afterAdd);
    QVERIFY(before != afterAdd);
    QVERIFY(!d->isVisible());  // a cancel closes the dialog

    // The options chosen are kept when the dialog closes without a job, the
    // exclude choice with them.
    d = w.addFolder();
    d->archivesBox()->setChecked(false);
    d->excludeBox()->setChecked(true);
    d->reject();
    d = w.addFolder();
    QVERIFY(!d->archivesBox()->isChecked());
    QVERIFY(d->excludeBox()->isChecked());
    d->reject();
    app.abandon();
  }

  // While a folder is being added, the window browses the library (the
  // walk writes its streams meanwhile) but changes nothing: no edits, no
  // other library, no second job; closing the dialog cancels the job.
  void browsesWhileAFolderIsAdded() {
    static std::atomic<bool> hold{true};
    static std::atomic<int> opened{0};
    tamber::scan::beforeReaderOpenHook = [](const std::string&) {
      ++opened;
      while (hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto slow = tmp.path / "slow";
    std::filesystem::create_directories(slow);
    for (int i = 0; i < 200; ++i) std::ofstream(slow / ("img" + std::to_string(i) + ".jpg")) << "not a picture " << i;

    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "busy.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto& doc = app.library()->catalog();
    xmlNode* backup = doc.findByName(doc.findByName(doc.root(), "Backups", true), "Backup", false);
    QVERIFY(backup);

    tamber::gui::AddFolderDialog* d = w.addFolder();
    QVERIFY(d && w.busy());
    d->setQuiet(true);
    d->folderEdit()->setText(QString::fromStdString(slow.string()));
    d->categoryBox()->setCurrentText("Slow");
    QSignalSpy done(d, &tamber::gui::AddFolderDialog::finished);
    QVERIFY(d->start());
    QTRY_VERIFY(opened.load() > 0);  // the walk waits inside its first file

    // Nothing changes the library meanwhile (a search may run: see the
    // window tests).
    QVERIFY(!w.addFolder());
    QModelIndex at = w.libraryModel()->indexOf(backup);
    QVERIFY(!(w.libraryModel()->flags(at) & (Qt::ItemIsEditable | Qt::ItemIsDragEnabled)));
    QVERIFY(!w.libraryModel()->setData(at, "Renamed", Qt::EditRole));
    answerNextQuestion(QMessageBox::Ok);
    QVERIFY(!w.openLibrary(QString::fromStdString(library)));
    QVERIFY(app.library()->catalog().root() == doc.root());

    // Browsing goes on while the walk writes its listing.
    hold.store(false);
    int rounds = 0;
    while (done.isEmpty()) {
      w.select(backup);
      w.openFolder({"Photos"});
      QCOMPARE(w.list()->model()->rowCount(), 30);
      w.list()->setCurrentIndex(w.list()->model()->index(rounds % 30, 0));
      ++rounds;
      QTest::qWait(5);
    }
    QVERIFY(rounds > 5);
    QCOMPARE(done.at(0).at(0).toBool(), true);
    // The dialog stays open for a next folder; closed, the window edits again.
    QVERIFY(w.busy());
    d->close();
    QTRY_VERIFY(!w.busy());
    xmlNode* added = doc.findByName(doc.findByName(doc.root(), "Slow", true), "slow", false);
    QVERIFY(added);
    QCOMPARE(doc.field(added, tamber::catalog::kFiles), std::string("200"));
    QVERIFY(w.libraryModel()->flags(at) & Qt::ItemIsEditable);

    // Closing the dialog of a running job cancels it: nothing is filed.
    std::string before = doc.currentText();
    hold.store(true);
    opened.store(0);
    d = w.addFolder();
    d->setQuiet(true);
    d->folderEdit()->setText(QString::fromStdString(slow.string()));
    d->labelEdit()->setText("Again");
    QSignalSpy ended(d, &tamber::gui::AddFolderDialog::finished);
    QVERIFY(d->start());
    QTRY_VERIFY(opened.load() > 0);
    hold.store(false);
    d->close();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), false);
    QCOMPARE(doc.currentText(), before);
    QVERIFY(!w.busy());
    tamber::scan::beforeReaderOpenHook = nullptr;

    // What was written during the browsing is sound on disk.
    QVERIFY(app.saveLibrary());
    app.abandon();
    std::string checked = tamber("storage check " + shellQuote(library));
    QVERIFY2(checked.find("FAILED") == std::string::npos, checked.c_str());
  }

  // Export and import from the File menu's commands, on a worker thread:
  // the library exported, imported back (merged, relabelled), as XML and
  // as CSV.
  void exportsAndImports() {
    auto copy = tmp.path / "exchange.cds";
    std::filesystem::copy_file(library, copy, std::filesystem::copy_options::overwrite_existing);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "exchange.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(copy.string())));
    auto& doc = app.library()->catalog();
    w.select(doc.findByName(doc.root(), "Backups", true));
    auto exported = tmp.path / "backups.cds";
    QVERIFY(w.exportLibraryTo(QString::fromStdString(exported.string())));
    QVERIFY(w.statusBar()->currentMessage().contains("backups.cds: 1 disc or folder."));
    auto xml = tmp.path / "backups.xml";
    QVERIFY(w.exportXmlTo(QString::fromStdString(xml.string())));
    QCOMPARE(runCommand("xmllint --noout " + shellQuote(xml.string())).status, 0);
    {
      // The export's dialog: a name gets ".xml", a file there is replaced
      // only when the user says so, and the parts chosen are kept.
      tamber::gui::XmlExportDialog d(app, "Backups", QString::fromStdString((tmp.path / "backups").string()));
      QVERIFY(d.subcategoriesBox()->isChecked() && d.listingsBox()->isChecked() && d.coversBox()->isChecked());
      d.listingsBox()->setChecked(false);
      QCOMPARE(d.target(), QString::fromStdString(xml.string()));
      answerNextQuestion(QMessageBox::No);
      d.accept();
      QCOMPARE(d.result(), int(QDialog::Rejected));
      answerNextQuestion(QMessageBox::Yes);
      d.accept();
      QCOMPARE(d.result(), int(QDialog::Accepted));
      QVERIFY(w.exportXmlTo(d.target(), d.options()));
      std::ifstream x(xml);
      std::string lean((std::istreambuf_iterator<char>(x)), std::istreambuf_iterator<char>());
      QVERIFY(lean.find("<subentry-in-category>") != std::string::npos);
      QVERIFY(lean.find("<file-listing>") == std::string::npos);
      tamber::gui::XmlExportDialog again(app, "Backups", QString());
      QVERIFY(!again.listingsBox()->isChecked());
      QVERIFY(again.coversBox()->isChecked());
      answerNextQuestion(QMessageBox::Ok);  // no name: said, and it stays
      again.accept();
      QCOMPARE(again.result(), int(QDialog::Rejected));
    }
    auto csv = tmp.path / "backups.csv";
    QVERIFY(w.exportCsvTo(QString::fromStdString(csv.string())));
    std::ifstream in(csv);
    std::string header;
    std::getline(in, header);
    QVERIFY(header.rfind("item,path,type,size,modified,kind", 0) == 0);
    // The web site: into an empty folder; over an earlier export only when
    // the user says yes; never into a folder of other files.
    auto site = tmp.path / "site";
    std::filesystem::create_directories(site);
    QVERIFY(w.exportHtmlTo(QString::fromStdString(site.string())));
    QVERIFY(std::filesystem::exists(site / "index.html") && std::filesystem::exists(site / "data" / "tree.js"));
    answerNextQuestion(QMessageBox::No);
    QVERIFY(!w.exportHtmlTo(QString::fromStdString(site.string())));
    answerNextQuestion(QMessageBox::Yes);
    QVERIFY(w.exportHtmlTo(QString::fromStdString(site.string())));
    QVERIFY(w.statusBar()->currentMessage().contains("index.html"));
    auto others = tmp.path / "others";
    std::filesystem::create_directories(others);
    std::ofstream(others / "keep.txt") << "keep";
    answerNextQuestion(QMessageBox::Ok);
    QVERIFY(!w.exportHtmlTo(QString::fromStdString(others.string())));
    QVERIFY(std::filesystem::exists(others / "keep.txt") && !std::filesystem::exists(others / "index.html"));

    QVERIFY(w.importLibraryFrom(QString::fromStdString(exported.string())));
    QVERIFY2(w.statusBar()->currentMessage().contains(": 0 new categories, 1 disc or folder (1 given another label"),
             qPrintable(w.statusBar()->currentMessage()));
    xmlNode* backups = doc.findByName(doc.root(), "Backups", true);
    QVERIFY(doc.findByName(backups, "Backup", false));
    int items = 0;
    for (xmlNode* n = backups->children; n; n = n->next) items += CatalogDocument::isItem(n);
    QCOMPARE(items, 2);  // the second under a distinct label
    QVERIFY(w.windowTitle().endsWith("*]"));
    QVERIFY(app.saveLibrary());
    // The open library into itself: refused with a message.
    answerNextQuestion(QMessageBox::Ok);
    QVERIFY(!w.importLibraryFrom(QString::fromStdString(copy.string())));
    app.abandon();
    std::string checked = tamber("storage check " + shellQuote(copy.string()));
    QVERIFY2(checked.find("FAILED") == std::string::npos, checked.c_str());
  }

  // The report window: the preview follows the choices, and the report is
  // saved in each format, read back by other programs.
  void reportsWithChoicesAndSavesEachFormat() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "report.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto* r = w.report();
    QVERIFY(r);
    QVERIFY(r->waitForPreview());
    QVERIFY(r->html().contains("notes.txt"));
    QVERIFY(r->html().contains("Backup"));
    // The files' level off: no file in the preview.
    QTreeWidgetItem* files = nullptr;
    // Levels and fields read as words; the document's names stay with them.
    for (int i = 0; i < r->levels()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* level = r->levels()->topLevelItem(i);
      if (level->data(0, Qt::UserRole + 1).toString() == "file-items") files = level;
    }
    QVERIFY(files);
    QCOMPARE(files->text(0), QString("Files and folders"));
    QCOMPARE(files->child(1)->text(0), QString("Size"));
    files->setCheckState(0, Qt::Unchecked);
    QVERIFY(r->waitForPreview());
    QVERIFY(!r->html().contains("notes.txt"));
    QVERIFY(r->preview()->toPlainText().contains("Backup"));
    files->setCheckState(0, Qt::Checked);
    QVERIFY(r->waitForPreview());
    QVERIFY(r->html().contains("notes.txt"));
    // By name "p10.txt" comes before "p9.txt"; by size (one byte against
    // two) after it.
    QVERIFY(r->html().indexOf("p10.txt") < r->html().indexOf("p9.txt"));
    r->levels()->setCurrentItem(files);
    int bySize = r->sortKey()->findText("Size");
    QVERIFY(bySize > 0);
    r->sortKey()->setCurrentIndex(bySize);
    emit r->sortKey()->activated(bySize);
    QVERIFY(r->waitForPreview());
    QVERIFY(r->html().indexOf("p9.txt") < r->html().indexOf("p10.txt"));
    // A second key after the first, as `--sort file-items=file-size,file-name`;
    // a third box opens once there are two, and the first left empty
    // clears them all.
    QVERIFY(r->sortKey(1)->isEnabled());
    QVERIFY(!r->sortKey(2)->isEnabled());
    int byName = r->sortKey(1)->findText("Name");
    r->sortKey(1)->setCurrentIndex(byName);
    emit r->sortKey(1)->activated(byName);
    QVERIFY(r->waitForPreview());
    QCOMPARE(r->sortKey(0)->currentText(), QString("Size"));
    QCOMPARE(r->sortKey(1)->currentText(), QString("Name"));
    QVERIFY(r->sortKey(2)->isEnabled());
    QCOMPARE(tamber::report::readChoice(r->reporter()->fields(), tamber::report::Level::fileItems).sortKeys.size(), 2u);
    QVERIFY(r->html().indexOf("p9.txt") < r->html().indexOf("p10.txt"));
    r->sortKey(0)->setCurrentIndex(0);
    emit r->sortKey(0)->activated(0);
    QVERIFY(r->waitForPreview());
    QVERIFY(tamber::report::readChoice(r->reporter()->fields(), tamber::report::Level::fileItems).sortKeys.empty());
    QCOMPARE(r->sortKey(1)->currentIndex(), 0);
    QVERIFY(r->html().indexOf("p10.txt") < r->html().indexOf("p9.txt"));
    r->sortKey(0)->setCurrentIndex(bySize);
    emit r->sortKey(0)->activated(bySize);
    QVERIFY(r->waitForPreview());

    auto out = tmp.path / "saved";
    std::filesystem::create_directories(out);
    auto at = [&](const char* name) { return QString::fromStdString((out / name).string()); };
    QVERIFY(r->saveAs(at("report.html")));
    QVERIFY(r->saveAs(at("report.xml")));
    QVERIFY(r->saveAs(at("report.rtf")));
    QVERIFY(r->saveAs(at("report.pdf")));
    auto pdf = runCommand("pdfinfo " + shellQuote((out / "report.pdf").string()));
    QVERIFY2(pdf.status == 0 && pdf.out.find("Pages:") != std::string::npos, pdf.out.c_str());
    auto pdfText = runCommand("pdftotext " + shellQuote((out / "report.pdf").string()) + " -");
    QVERIFY2(pdfText.out.find("Backup") != std::string::npos, pdfText.out.c_str());
    auto rtf = runCommand("unrtf --text " + shellQuote((out / "report.rtf").string()));
    QVERIFY2(rtf.out.find("Backup") != std::string::npos, rtf.out.c_str());
    QCOMPARE(runCommand("xmllint --noout " + shellQuote((out / "report.xml").string())).status, 0);
    std::ifstream html(out / "report.html");
    std::string page((std::istreambuf_iterator<char>(html)), std::istreambuf_iterator<char>());
    QVERIFY(page.find("notes.txt") != std::string::npos);
    // Its Help button opens the bundled help at the report's page, whose
    // links lead on.
    auto* helpButton = r->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help);
    QVERIFY(helpButton);
    helpButton->click();
    QTextBrowser* help = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == "helpWindow" && top->isVisible()) help = top->findChild<QTextBrowser*>();
    }
    QVERIFY(help);
    QCOMPARE(help->documentTitle(), QString("Reports, printing and PDF"));
    help->setSource(QUrl("index.html"));
    QVERIFY(help->toPlainText().contains("Export and import"));
    help->window()->close();
    r->close();

    // A stylesheet chosen in the preferences makes the report.
    auto custom = tmp.path / "custom.xsl";
    std::ofstream(custom) << "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                             "<xsl:output method=\"html\"/><xsl:template match=\"/\"><html><body><p>Shelf: "
                             "<xsl:value-of select=\"count(//file-structure)\"/></p></body></html></xsl:template>"
                             "</xsl:stylesheet>";
    {
      tamber::gui::PreferencesDialog prefs(app, &w);
      QTRY_VERIFY(prefs.watchBox()->isEnabled());  // systemctl asked and answered
      prefs.stylesheetEdit()->setText(QString::fromStdString(custom.string()));
      prefs.store();
    }
    r = w.report();
    QVERIFY(r);
    QCOMPARE(r->stylesheet()->text(), QString::fromStdString(custom.string()));
    QVERIFY(r->waitForPreview());
    auto stats = app.library()->catalog().libraryStatistics();
    QString shelf = QString("Shelf: %1").arg(stats.discs + stats.folders);
    QVERIFY2(r->html().contains(shelf), qPrintable(r->html() + " against " + shelf));
    r->close();

    // The disc database's greeting and proxy: what goes when nothing is set
    // is shown, an address the server would refuse is mended before the
    // dialog closes, and what is stored is what a lookup uses.
    {
      tamber::gui::PreferencesDialog prefs(app, &w);
      QTRY_VERIFY(prefs.watchBox()->isEnabled());  // systemctl asked and answered
      prefs.show();
      tamber::disc::CddbClient local;
      QVERIFY(prefs.emailEdit()->placeholderText().contains(
          QString::fromStdString(local.userName() + "@" + local.hostName())));
      QSignalSpy accepted(&prefs, &QDialog::accepted);
      auto* ok = prefs.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      prefs.emailEdit()->setText("nobody-at-home");
      answerNextQuestion(QMessageBox::Ok);
      ok->click();
      QCOMPARE(accepted.count(), 0);
      QVERIFY(prefs.isVisible());
      prefs.emailEdit()->setText(" me@example.org ");
      prefs.proxyEdit()->setText("proxy host:8080");
      answerNextQuestion(QMessageBox::Ok);
      ok->click();
      QCOMPARE(accepted.count(), 0);
      prefs.proxyEdit()->setText("cache.example.org:3128");
      ok->click();
      QCOMPARE(accepted.count(), 1);
      prefs.store();
    }
    tamber::disc::CddbClient client;
    QVERIFY(tamber::app::configureCddbClient(app.settings(), {}, client));
    QCOMPARE(QString::fromStdString(client.helloText()).section('&', 0, 0), QString("hello=me+example.org+Tamber%2B+3.3"));
    QCOMPARE(QString::fromStdString(client.proxyHost), QString("cache.example.org"));
    QCOMPARE(client.proxyPort, 3128);
    {
      // Shown again as stored, the port with its host.
      tamber::gui::PreferencesDialog prefs(app, &w);
      QTRY_VERIFY(prefs.watchBox()->isEnabled());  // systemctl asked and answered
      QCOMPARE(prefs.proxyEdit()->text(), QString("cache.example.org:3128"));
      prefs.proxyEdit()->setText("cache.example.org");
      prefs.store();
    }
    QVERIFY(tamber::app::configureCddbClient(app.settings(), {}, client));
    QCOMPARE(client.proxyPort, 80);
    {
      // A reader of the user's own set on the page is what a scan runs;
      // rows left empty leave nothing behind.
      tamber::gui::PreferencesDialog prefs(app, &w);
      QTRY_VERIFY(prefs.watchBox()->isEnabled());  // systemctl asked and answered
      QCOMPARE(prefs.readerRows().size(), size_t(tamber::app::kUserReaderCount));
      prefs.readerRows()[1].pattern->setText(" *.nfo ");
      prefs.readerRows()[1].command->setText("head -n 1 '{}'");
      prefs.readerRows()[1].seconds->setValue(3);
      prefs.store();
    }
    auto readers = tamber::app::userReaders(app.settings());
    QCOMPARE(readers.size(), size_t(1));
    QCOMPARE(QString::fromStdString(readers[0].pattern), QString("*.nfo"));
    QCOMPARE(readers[0].argv, (std::vector<std::string>{"head", "-n", "1", "{}"}));
    QCOMPARE(readers[0].timeLimitMs, 3000);
    QCOMPARE(readers[0].outputLimit, size_t(4096));
    QVERIFY(app.settings().getText("UserReader1", "Pattern").empty());
    {
      // The watch of mounted volumes is the user's service: the box shows
      // whether it is enabled, and switching it enables and starts it (or
      // stops it); leaving the box as it was runs nothing.
      auto bin = tmp.path / "fakebin";
      std::filesystem::create_directories(bin);
      auto log = tmp.path / "systemctl.log";
      auto state = tmp.path / "watch-enabled";
      {
        std::ofstream script(bin / "systemctl");
        script << "#!/bin/sh\necho \"$*\" >> " << shellQuote(log.string()) << "\n"
               << "case \"$2\" in is-enabled) test -e " << shellQuote(state.string()) << " ;;\n"
               << "enable) touch " << shellQuote(state.string()) << " ;;\n"
               << "disable) rm -f " << shellQuote(state.string()) << " ;; esac\n";
      }
      std::filesystem::permissions(bin / "systemctl", std::filesystem::perms::owner_all);
      QByteArray path = qgetenv("PATH");
      qputenv("PATH", QByteArray::fromStdString(bin.string()) + ":" + path);
      {
        tamber::gui::PreferencesDialog prefs(app, &w);
        // Asked beside the window: the box waits for the answer.
        QTRY_VERIFY(prefs.watchBox()->isEnabled());
        QVERIFY(!prefs.watchBox()->isChecked());
        prefs.store();
        QVERIFY(!std::filesystem::exists(state));
        prefs.watchBox()->setChecked(true);
        prefs.store();
      }
      QVERIFY(std::filesystem::exists(state));
      {
        tamber::gui::PreferencesDialog prefs(app, &w);
        QTRY_VERIFY(prefs.watchBox()->isEnabled());
        QVERIFY(prefs.watchBox()->isChecked());
        prefs.watchBox()->setChecked(false);
        prefs.store();
      }
      qputenv("PATH", path);
      QVERIFY(!std::filesystem::exists(state));
      QFile logged(QString::fromStdString(log.string()));
      QVERIFY(logged.open(QIODevice::ReadOnly));
      QCOMPARE(QString::fromUtf8(logged.readAll()),
               QString("--user is-enabled --quiet tamber-watch.service\n"
                       "--user enable --now tamber-watch.service\n"
                       "--user is-enabled --quiet tamber-watch.service\n"
                       "--user disable --now tamber-watch.service\n"));
      // A session bus that keeps systemctl waiting holds up neither the
      // window nor its closing, and a box never answered switches nothing.
      auto slow = tmp.path / "slowbin";
      std::filesystem::create_directories(slow);
      {
        std::ofstream script(slow / "systemctl");
        script << "#!/bin/sh\necho \"$*\" >> " << shellQuote((tmp.path / "slow.log").string()) << "\nsleep 1\n";
      }
      std::filesystem::permissions(slow / "systemctl", std::filesystem::perms::owner_all);
      qputenv("PATH", QByteArray::fromStdString(slow.string()) + ":" + path);
      QElapsedTimer shown;
      shown.start();
      {
        tamber::gui::PreferencesDialog prefs(app, &w);
        QVERIFY(!prefs.watchBox()->isEnabled());
        prefs.watchBox()->setChecked(true);
        prefs.store();
      }
      QVERIFY2(shown.elapsed() < 500, QByteArray::number(shown.elapsed()));
      QTest::qWait(1500);  // the question's thread ends
      qputenv("PATH", path);
      QFile slowLog(QString::fromStdString((tmp.path / "slow.log").string()));
      QVERIFY(slowLog.open(QIODevice::ReadOnly));
      QCOMPARE(QString::fromUtf8(slowLog.readAll()), QString("--user is-enabled --quiet tamber-watch.service\n"));
    }
    app.abandon();
  }

  // The add-disc dialog with simulated drives: an audio CD with CD-TEXT
  // (its rows edited before adding), the same CD without CD-TEXT named from
  // a disc database on loopback where two entries match and the user picks
  // one (an edited title stays), an enhanced CD and a data disc.
  void addsDiscsFromSimulatedDrives() {
    auto lib = tmp.path / "discs.cds";
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(lib.string())).status, 0);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "discs.cfg").string()}));
    app.settings().putInt("App-Preference", "NotEject", 1);
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(lib.string())));
    auto& doc = app.library()->catalog();
    std::string discs = TAMBER_DISCS;
    auto addWith = [&](tamber::gui::AddDiscDialog* d) {
      QSignalSpy started(d, &QDialog::accepted);
      d->accept();
      tamber::gui::AddFolderDialog* progress = w.findChild<tamber::gui::AddFolderDialog*>();
      QVERIFY(progress);
      QSignalSpy done(progress, &tamber::gui::AddFolderDialog::finished);
      QVERIFY(done.count() == 1 || done.wait(20000));
      QVERIFY(done.at(0).at(0).toBool());
      QApplication::processEvents();
    };

    w.setSimulatedDrive(QString::fromStdString("sim:" + discs + "/audio-cd.xml"));
    auto* d = w.addDisc();
    QVERIFY(d);
    d->setQuiet(true);
    QVERIFY(d->driveBox()->currentText().contains("audio-cd.xml"));
    QVERIFY(d->readDisc());
    QCOMPARE(d->tracks()->rowCount(), 12);
    QVERIFY(!d->scanChoices().archives->isEnabled());  // no files on an audio CD
    QCOMPARE(d->tracks()->item(0, 0)->text(), QString("Night Drive"));
    QVERIFY(!d->note()->text().isEmpty());  // the titles came from CD-TEXT
    QCOMPARE(d->labelEdit()->text(), QString("Night Drive"));
    QVERIFY(d->tracks()->item(0, 4)->text().startsWith("GBAYE"));  // the ISRC, as read
    d->tracks()->item(2, 0)->setText("Rain, edited");
    d->categoryBox()->setCurrentText("Music/CDs");
    addWith(d);
    xmlNode* cds = doc.findByName(doc.findByName(doc.root(), "Music", true), "CDs", true);
    QVERIFY(cds);
    QVERIFY(doc.findByName(cds, "Night Drive", false));

    // Without CD-TEXT: the database names the tracks.
    std::ifstream in(discs + "/audio-cd.xml");
    std::string textOfDisc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    textOfDisc.erase(textOfDisc.find("<cdtext>"), textOfDisc.find("</cdtext>") + 9 - textOfDisc.find("<cdtext>"));
    std::ofstream(tmp.path / "plain.xml") << textOfDisc;
    tamber::disc::LoopbackServer server;
    server.answer("", tamber::disc::LoopbackServer::Mode::reply,
                  {{"cddb+query", "211 close\r\njazz 990a150c The Night Owls / Night Drive\r\n"
                                  "misc 990a150c Someone / Else\r\n.\r\n"},
                   {"cddb+read+jazz",
                    "210 jazz 990a150c\r\n# xmcd\r\n# Track frame offsets:\r\n#\t150\r\n# Disc length: 2583 seconds\r\n# Submitted via: Tool 1.0\r\n"
                    "DISCID=990a150c\r\nDTITLE=The Night Owls / Night Drive\r\n"
                    "DYEAR=2019\r\nDGENRE=JAZZ\r\nTTITLE0=Night Drive\r\nTTITLE1=Highway Lights\r\n"
                    "TTITLE2=Rain on Glass\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\nEXTT2=\r\n.\r\n"}});
    app.settings().putText("FreeDBSelected", "hello_email", "jo@example.org");
    app.settings().putInt("FreeDBSelected", "auto_lookup", 0);  // asked by hand first
    w.setSimulatedDrive(QString::fromStdString("sim:" + (tmp.path / "plain.xml").string()));
    d = w.addDisc();
    d->setQuiet(true);
    QVERIFY(!d->autoLookUpBox()->isChecked());
    QVERIFY(d->readDisc());
    QVERIFY(d->note()->text().isEmpty());
    QCOMPARE(d->tracks()->item(0, 0)->text(), QString("Track 1"));
    d->tracks()->item(1, 0)->setText("My own title");
    d->serverBox()->setCurrentText(QString("127.0.0.1:%1").arg(server.port()));
    QStringList offered;
    bool named = d->lookUp([&](const QStringList& matches) {
      offered = matches;
      return 0;
    });
    QVERIFY2(named, qPrintable(d->lastMessage()));
    QCOMPARE(offered.size(), 2);
    QVERIFY(offered[1].contains("Someone / Else"));
    QCOMPARE(d->tracks()->item(0, 0)->text(), QString("Night Drive"));
    QCOMPARE(d->tracks()->item(1, 0)->text(), QString("My own title"));  // the user's edit stays
    QCOMPARE(d->tracks()->item(2, 0)->text(), QString("Rain on Glass"));
    QVERIFY(d->note()->text().contains("2"));
    QCOMPARE(d->artistEdit()->text(), QString("The Night Owls"));
    // Asked again for the same disc: the entry already read, no request,
    // and the user's title still stays.
    int requestsBefore = server.requests();
    QVERIFY(d->lookUp([](const QStringList&) { return -1; }));
    QCOMPARE(server.requests(), requestsBefore);
    QCOMPARE(d->tracks()->item(1, 0)->text(), QString("My own title"));
    {
      // Choosing none (in a dialog that has read no entry) changes nothing.
      tamber::gui::AddDiscDialog none(app, nullptr, QString::fromStdString("sim:" + (tmp.path / "plain.xml").string()));
      none.setQuiet(true);
      QVERIFY(none.readDisc());
      none.serverBox()->setCurrentText(QString("127.0.0.1:%1").arg(server.port()));
      QVERIFY(!none.lookUp([](const QStringList&) { return -1; }));
      QCOMPARE(none.tracks()->item(1, 0)->text(), QString("Track 2"));
    }
    // The server that answered is kept and offered first next time.
    QString asked = QString("127.0.0.1:%1/~cddb/cddb.cgi").arg(server.port());
    QCOMPARE(QString::fromStdString(app.settings().getText("FreeDBSelected", "site_name")),
             QString("127.0.0.1:%1").arg(server.port()));
    {
      tamber::gui::AddDiscDialog again(app, nullptr, QString());
      QCOMPARE(again.serverBox()->currentText(), asked);
    }
    d->labelEdit()->setText("Night Drive (database)");
    d->categoryBox()->setCurrentText("Music/CDs");
    addWith(d);
    QVERIFY(doc.findByName(cds, "Night Drive (database)", false));

    // Looked up as soon as it is read (the box kept as the user left it),
    // and read again in the same drive, named from the entry already read.
    {
      tamber::gui::AddDiscDialog again(app, nullptr, QString::fromStdString("sim:" + (tmp.path / "plain.xml").string()));
      again.setQuiet(true);
      again.autoLookUpBox()->setChecked(true);
      QCOMPARE(app.settings().getInt("FreeDBSelected", "auto_lookup", 0), 1);
      int asked = server.requests();
      int offeredTimes = 0;
      auto first = [&](const QStringList&) {
        ++offeredTimes;
        return 0;
      };
      QVERIFY(again.readDisc(first));
      QCOMPARE(again.tracks()->item(2, 0)->text(), QString("Rain on Glass"));
      QCOMPARE(again.artistEdit()->text(), QString("The Night Owls"));
      QCOMPARE(offeredTimes, 1);
      QCOMPARE(server.requests(), asked + 2);  // the query and the read
      again.tracks()->item(0, 0)->setText("Edited again");
      QVERIFY(again.readDisc(first));
      QCOMPARE(again.tracks()->item(0, 0)->text(), QString("Night Drive"));
      QCOMPARE(again.tracks()->item(2, 0)->text(), QString("Rain on Glass"));
      QCOMPARE(server.requests(), asked + 2);
      QCOMPARE(offeredTimes, 1);
      // The disc with CD-TEXT needs nobody.
      tamber::gui::AddDiscDialog withText(app, nullptr, QString::fromStdString("sim:" + discs + "/audio-cd.xml"));
      withText.setQuiet(true);
      QVERIFY(withText.readDisc(first));
      QCOMPARE(server.requests(), asked + 2);
    }
    app.settings().putInt("FreeDBSelected", "auto_lookup", 0);

    // An enhanced CD and a data disc (their files from the simulated mount).
    for (const char* name : {"enhanced-cd.xml", "data-cd.xml"}) {
      w.setSimulatedDrive(QString::fromStdString("sim:" + discs + "/" + name));
      d = w.addDisc();
      d->setQuiet(true);
      QVERIFY(d->readDisc());
      QVERIFY(!d->discInfo()->text().isEmpty());
      QVERIFY(d->scanChoices().archives->isEnabled());  // a data session to read
      d->categoryBox()->setCurrentText("Data");
      if (std::string(name) == "data-cd.xml") {
        // Its options: no archive contents, and a folder left out.
        QVERIFY(d->scanChoices().archives->isChecked());
        d->scanChoices().archives->setChecked(false);
        d->scanChoices().addRow({discs + "/data-cd-files/Holiday", true});
      }
      addWith(d);
    }
    // They come back for the next disc.
    QCOMPARE(app.settings().getInt("serialized_param", "param_addcd", 0) & 0x20, 0);
    d = w.addDisc();
    d->setQuiet(true);
    QVERIFY(!d->scanChoices().archives->isChecked());
    QVERIFY(d->scanChoices().thumbnails->isChecked());
    // A category the library refuses is said, and the page stays to be mended.
    QVERIFY(d->readDisc());
    QVERIFY(doc.appendCategory(doc.findByName(doc.root(), "Data", true), "Full", "", 65535));  // no number left
    std::string unchanged = doc.currentText();
    d->categoryBox()->setCurrentText("Data/New");
    d->accept();
    QApplication::processEvents();
    QVERIFY2(d->isVisible(), qPrintable(d->lastMessage()));
    QVERIFY2(d->lastMessage().startsWith("The disc cannot be filed in this category."), qPrintable(d->lastMessage()));
    QCOMPARE(doc.currentText(), unchanged);
    QVERIFY(!w.busy());
    d->reject();
    xmlNode* data = doc.findByName(doc.root(), "Data", true);
    int items = 0;
    for (xmlNode* n = data->children; n; n = n->next) items += CatalogDocument::isItem(n);
    QCOMPARE(items, 2);
    QVERIFY(app.saveLibrary());
    app.abandon();
    auto ls = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) +
                         " ls --sort none 'Music/CDs/Night Drive'");
    QVERIFY2(ls.out.find("Rain, edited") != std::string::npos, ls.out.c_str());
    ls = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) +
                    " ls --sort none 'Music/CDs/Night Drive (database)'");
    QVERIFY2(ls.out.rfind("Night Drive\nMy own title\nRain on Glass\n", 0) == 0, ls.out.c_str());
    ls = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) + " ls -R Data/PHOTOS_2019");
    QVERIFY2(ls.out.find("souvenirs.txt") != std::string::npos && ls.out.find("day1.txt") == std::string::npos,
             ls.out.c_str());
  }

  // The player page: an audio file of a folder at hand plays, and one whose
  // folder is gone says so; an audio CD's track plays from the drive that
  // holds that disc, and another disc in the drive is named.
  void playsWhatIsAtHand() {
    auto music = tmp.path / "music";
    std::filesystem::create_directories(music);
    QCOMPARE(runCommand("sox -n -r 44100 -c 2 " + shellQuote((music / "tone.wav").string()) +
                        " synth 1 sine 440 && lame -S " + shellQuote((music / "tone.wav").string()) + " " +
                        shellQuote((music / "tone.mp3").string()))
                 .status,
             0);
    auto lib = tmp.path / "player.cds";
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(lib.string())).status, 0);
    std::string at = std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) + " --config " +
                     shellQuote((tmp.path / "player.cfg").string());
    QCOMPARE(runCommand(at + " add-folder -q " + shellQuote(music.string()) + " --label Tunes --category Music").status,
             0);
    QCOMPARE(runCommand(at + " add-disc -q --drive " + shellQuote(std::string("sim:") + TAMBER_DISCS + "/audio-cd.xml") +
                        " --category Music --no-eject")
                 .status,
             0);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "player.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(lib.string())));
    auto& doc = app.library()->catalog();
    xmlNode* musicCategory = doc.findByName(doc.root(), "Music", true);
    auto rowOf = [&](const char* name) {
      auto* m = w.list()->model();
      for (int r = 0; r < m->rowCount(); ++r) {
        if (m->index(r, 0).data().toString() == QString::fromUtf8(name)) return r;
      }
      return -1;
    };
    w.select(doc.findByName(musicCategory, "Tunes", false));
    int row = rowOf("tone.mp3");
    QVERIFY(row >= 0);
    w.list()->selectRow(row);
    auto* player = w.player();
    QVERIFY(player->playButton()->isEnabled());
    // Where there is no sound output (a machine without a sound server),
    // what is at hand is found all the same, and the bar says why it is
    // not played.
    const bool sound = !QMediaDevices::audioOutputs().isEmpty();
    QCOMPARE(player->play(), sound);
    QCOMPARE(player->source(), QString::fromStdString((music / "tone.mp3").string()));
    if (!sound) QVERIFY2(player->status()->text().contains("no sound output"), qPrintable(player->status()->text()));
    player->stop();
    std::filesystem::rename(music, tmp.path / "music-gone");
    QVERIFY(!player->play());
    QVERIFY2(player->status()->text().contains("away"), qPrintable(player->status()->text()));
    std::filesystem::rename(tmp.path / "music-gone", music);

    // The audio CD: track 3 from the drive holding it.
    w.setSimulatedDrive(QString::fromStdString(std::string("sim:") + TAMBER_DISCS + "/audio-cd.xml"));
    w.select(doc.findByName(musicCategory, "Night Drive", false));
    row = rowOf("Rain on Glass");
    QVERIFY(row >= 0);
    w.list()->selectRow(row);
    QCOMPARE(player->play(), sound);
    QVERIFY2(player->source().startsWith("cdda://") && player->source().endsWith("#3"),
             qPrintable(player->source()));
    player->stop();
    // Another disc in the drive: named, and what to insert.
    w.setSimulatedDrive(QString::fromStdString(std::string("sim:") + TAMBER_DISCS + "/enhanced-cd.xml"));
    QVERIFY(!player->play());
    QVERIFY2(player->status()->text().contains("not this one") && player->status()->text().contains("Night Drive"),
             qPrintable(player->status()->text()));
    // A category's row: nothing to play.
    w.select(musicCategory);
    w.list()->selectRow(0);
    QVERIFY(!player->playButton()->isEnabled());
    app.abandon();

    // A data disc is at hand when a disc of its volume label is mounted.
    QCOMPARE(runCommand(at + " add-disc -q --drive " + shellQuote(std::string("sim:") + TAMBER_DISCS + "/data-cd.xml") +
                        " --category Data --no-eject")
                 .status,
             0);
    tamber::app::App second;
    QVERIFY(second.start({(tmp.path / "player.cfg").string()}));
    QVERIFY(second.openLibrary(lib.string(), true));
    auto& catalog = second.library()->catalog();
    xmlNode* disc = catalog.findByName(catalog.findByName(catalog.root(), "Data", true), "PHOTOS_2019", false);
    QVERIFY(disc);
    tamber::disc::CdDriveManager same;
    QVERIFY(same.addDrive(std::string("sim:") + TAMBER_DISCS + "/data-cd.xml"));
    auto found = tamber::app::locate(second, *second.library(), disc, {"Holiday", "day1.txt"}, same);
    QVERIFY2(found.present, found.message.c_str());
    QVERIFY(found.path.size() > 8 && found.path.substr(found.path.size() - 8) == "day1.txt");
    QVERIFY(!tamber::app::locate(second, *second.library(), disc, {"Holiday", "day9.txt"}, same).present);
    tamber::disc::CdDriveManager other;
    QVERIFY(other.addDrive(std::string("sim:") + TAMBER_DISCS + "/enhanced-cd.xml"));
    found = tamber::app::locate(second, *second.library(), disc, {"Holiday", "day1.txt"}, other);
    QVERIFY(!found.present);
    QVERIFY2(found.message.find("PHOTOS_2019") != std::string::npos, found.message.c_str());
    second.abandon();
  }

  // A damaged library's label of 300,000 letters and a report of 30,000
  // files: the views show a bounded part of each, so the window answers at
  // once and stays of a sane size; saving keeps the whole report.
  void longTextsAndLongReportsStayBounded() {
    auto copy = tmp.path / "long.cds";
    std::filesystem::copy_file(library, copy, std::filesystem::copy_options::overwrite_existing);
    auto many = tmp.path / "many";
    std::filesystem::create_directories(many);
    for (int i = 0; i < 30000; ++i) std::ofstream(many / ("file-" + std::to_string(i))).put('x');
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(copy.string()) + " --config " +
                        shellQuote(config) + " add-folder -q " + shellQuote(many.string()) +
                        " --label Many --category Big")
                 .status,
             0);
    std::string catalog = runCommand(std::string(TAMBER_CLI) + " storage cat " + shellQuote(copy.string()) +
                                     " categories").out;
    std::string label = std::string(300000, 'L');
    size_t at = catalog.find("<h>Papers</h>");
    QVERIFY(at != std::string::npos);
    catalog.replace(at, 13, "<h>" + label + "</h>");
    std::ofstream(tmp.path / "long.xml") << catalog;
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " storage put " + shellQuote(copy.string()) + " categories " +
                        shellQuote((tmp.path / "long.xml").string()))
                 .status,
             0);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "long.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(copy.string())));
    auto& doc = app.library()->catalog();
    xmlNode* item = doc.findByName(doc.findByName(doc.root(), "Other", true), label, false);
    QVERIFY(item);
    QElapsedTimer clock;
    clock.start();
    w.select(item);
    QApplication::processEvents();
    tamber::gui::FindDialog* d = w.find();
    QVERIFY(d);
    d->show();
    QApplication::processEvents();
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(d->width() < 4000, qPrintable(QString::number(d->width())));
    QVERIFY(w.tree()->currentIndex().data().toString().size() <= 1001);
    d->close();
    // The report: the preview has the beginning and says how much; the
    // file has all.
    w.select(doc.root());
    auto* r = w.report();
    QVERIFY(r);
    QVERIFY(r->waitForPreview());
    QVERIFY(r->previewCut());
    QVERIFY(r->entriesInSelection() > 30000);
    QVERIFY(!r->html().contains("file-9999"));
    QVERIFY(r->findChild<QLabel*>("previewNotice")->text().contains(QLocale().toString(r->previewLimit())));
    auto saved = tmp.path / "long-report.html";
    QVERIFY(r->saveAs(QString::fromStdString(saved.string())));
    std::ifstream in(saved);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(page.find(label) != std::string::npos);
    r->close();
    app.abandon();
  }

  // Every window in French and Italian: no word of the program's own left
  // in English (beside words both languages write alike), nothing cut off.
  void everyWindowSpeaksEachLanguage() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "words.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.resize(1100, 720);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto& doc = app.library()->catalog();
    xmlNode* backups = doc.findByName(doc.root(), "Backups", true);
    xmlNode* item = backups ? doc.findByName(backups, "Backup", false) : nullptr;
    QVERIFY(item);
    std::string discs = TAMBER_DISCS;
    // The same windows in each language, their words in the same order.
    auto windows = [&]() {
      std::vector<std::pair<QString, QStringList>> found;
      QStringList clipped;
      auto take = [&](const QString& name, QWidget* window) {
        window->show();
        QApplication::processEvents();
        found.push_back({name, wordsOf(window)});
        for (const QString& c : clippedIn(window)) clipped << name + ": " + c;
      };
      take("main window", &w);
      tamber::gui::PreferencesDialog prefs(app, &w);
      take("preferences", &prefs);
      tamber::gui::AddFolderDialog addFolder(app, backups, &w);
      take("add folder", &addFolder);
      tamber::gui::AddDiscDialog addDisc(app, backups, QString::fromStdString("sim:" + discs + "/audio-cd.xml"), &w);
      addDisc.setQuiet(true);
      addDisc.readDisc();
      take("add disc", &addDisc);
      tamber::gui::FindDialog find(app, nullptr, &w);
      take("find", &find);
      tamber::gui::ItemDialog edit(app, item, &w);
      take("edit", &edit);
      tamber::gui::XmlExportDialog xml(app, "Backups", "/tmp/Backups.xml", &w);
      take("export as XML", &xml);
      tamber::gui::ReportWindow report(app, {backups}, &w);
      take("report", &report);
      return std::pair{found, clipped};
    };
    auto english = windows().first;
    // Words French or Italian write as English does.
    const QStringList alike = {"OK", "Album", "Genre", "Proxy", "ISRC", "Codec", "XML", "CSV", "PDF", "HTML", "Info",
                               "Backups", "Backup", "HOST:PORT", "English", "Français", "Italiano", "—", "…", "File",
                               "Documents", "Server", "Jazz", "Night Drive", "The Night Owls",
                               // The examples of a reader of your own: a pattern and a command line.
                               "*.nfo", "head -c 2000 {}"};
    QStringList problems;
    for (const char* language : {"fr", "it"}) {
      w.switchLanguage(language);
      auto [found, clipped] = windows();
      for (const QString& c : clipped) problems << QString("%1, clipped: %2").arg(language, c);
      for (size_t i = 0; i < found.size() && i < english.size(); ++i) {
        const auto& [name, words] = found[i];
        for (qsizetype k = 0; k < words.size() && k < english[i].second.size(); ++k) {
          const QString& word = words[k];
          int letters = 0;
          for (QChar c : word) letters += c.isLetter();
          QString bare = word;
          while (bare.endsWith(':') || bare.endsWith(' ') || bare.endsWith(QChar(0xA0))) bare.chop(1);
          if (letters < 3 || word != english[i].second[k] || alike.contains(bare)) continue;
          if (word.startsWith("Tamber+") || word.contains('/') || word.startsWith("Track ")) continue;
          problems << QString("%1, %2: \"%3\" is English").arg(language, name, word);
        }
      }
    }
    w.switchLanguage("en");
    problems.removeDuplicates();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
    app.abandon();
  }

  void theHelpSpeaksEachLanguage() {
    // Every page of the bundled help exists in each language, is marked as
    // that language, has its own title, and links only to pages beside it;
    // the help window's bar follows the language.
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "help.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QDir english(QString::fromStdString(tamber::gui::helpDirectory("en").string()));
    const QStringList pages = english.entryList({"*.html"});
    QVERIFY(pages.size() >= 10);
    std::map<QString, QString> englishTitles;
    QStringList problems;
    QRegularExpression link("href=\"([^\"#:]+)");
    for (const char* language : {"en", "fr", "it"}) {
      w.switchLanguage(language);
      QTextBrowser* help = nullptr;
      for (const QString& page : pages) {
        help = tamber::gui::showHelp(&w, app, page);
        QString dir = help->searchPaths().value(0);
        QString where = QString("%1/%2").arg(language, page);
        QFile file(dir + "/" + page);
        if (!dir.endsWith(QString("/") + language) || !file.open(QIODevice::ReadOnly)) {
          problems << where + ": missing";
          continue;
        }
        QString html = QString::fromUtf8(file.readAll());
        if (!html.contains(QString("<html lang=\"%1\">").arg(language))) problems << where + ": not marked as its language";
        QString title = help->documentTitle();
        if (title.isEmpty()) problems << where + ": no title";
        if (language == std::string("en")) englishTitles[page] = title;
        else if (englishTitles[page] == title) problems << where + ": English title \"" + title + "\"";
        for (auto m = link.globalMatch(html); m.hasNext();) {
          QString target = m.next().captured(1);
          if (!QFileInfo::exists(dir + "/" + target)) problems << where + ": broken link " + target;
        }
      }
      QVERIFY(help);
      QStringList bar;
      for (QAction* a : help->window()->findChild<QToolBar*>()->actions()) bar << a->text();
      QStringList expected = {tamber::gui::text(app, tamber::gui::kBack).remove('&'),
                              tamber::gui::text(app, tamber::gui::kForward).remove('&'),
                              tamber::gui::text(app, tamber::gui::kHelpContents).remove('&')};
      QCOMPARE(bar, expected);
      if (language != std::string("en")) QVERIFY(!bar.contains("Back"));
      help->window()->close();
    }
    w.switchLanguage("en");
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
  }

  void theLanguageSwitchesWhileRunning() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "lang.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.switchLanguage("fr");
    QCOMPARE(w.menuBar()->actions()[0]->text(), QString("&Fichier"));
    QCOMPARE(w.tree()->model()->index(0, 0).data().toString(), QString::fromUtf8("Bibliothèque"));
    QCOMPARE(app.settings().getText("App-Preference", "lang"), std::string("fr"));
    w.switchLanguage("it");
    QCOMPARE(w.menuBar()->actions()[0]->text(), QString("&File"));
    QCOMPARE(w.list()->model()->headerData(0, Qt::Horizontal).toString(), QString("Nome"));
    // Qt's own buttons follow, in a dialog made after the switch and back.
    auto cancelText = [&] {
      tamber::gui::PreferencesDialog prefs(app, &w);
      return prefs.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text().remove('&');
    };
    QCOMPARE(cancelText(), QString("Annulla"));
    w.switchLanguage("fr");
    QCOMPARE(cancelText(), QString("Annuler"));
    w.switchLanguage("en");
    QCOMPARE(cancelText(), QString("Cancel"));
    w.switchLanguage("it");
    answerNextQuestion(QMessageBox::Ok);
    w.switchLanguage("xx");  // no such language: said, and the current one stays
    QCOMPARE(app.language().code(), std::string("it"));
    app.abandon();
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  QApplication app(argc, argv);
  GuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
