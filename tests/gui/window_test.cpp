// The main window as a person uses it: nothing replaced or lost without a
// question, a failed open that keeps what was shown, commands on the view
// with the focus, undo of every edit, the keys, context menus, path bar and
// views of a file manager, archives opened like folders.
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLocalServer>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "app/app.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "catalog/library.h"
#include "gui/add_folder_dialog.h"
#include "gui/background_work.h"
#include "gui/content_model.h"
#include "gui/find_dialog.h"
#include "gui/duplicates_dialog.h"
#include "gui/shared_catalogue_dialog.h"
#include "gui/verify_dialog.h"
#include "gui/item_dialog.h"
#include "gui/library_model.h"
#include "gui/main_window.h"
#include "gui/texts.h"
#include "gui/report_window.h"
#include "gui/single_instance.h"
#include "scan/scanner.h"
#include "search/name_index.h"
#include "tests/pg_cluster.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

using tamber::catalog::CatalogDocument;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

namespace {

// Answers the modal dialogs as they open, in turn: each step is given the
// dialog on top and says whether it was the one it answers.
class Script : public QObject {
 public:
  using Step = std::function<bool(QWidget*)>;
  explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || !w->isVisible() || steps_.empty()) return;
      Step step = steps_.front();
      if (step(w)) steps_.erase(steps_.begin());
    });
    timer_.start(10);
  }
  bool done() const { return steps_.empty(); }

 private:
  std::vector<Step> steps_;
  QTimer timer_;
};

Script::Step typeFile(const QString& path) {
  return [path](QWidget* w) {
    auto* d = qobject_cast<QFileDialog*>(w);
    if (!d) return false;
    // Typed into the name box, as a person does (selectFile leaves a box
    // with the focus alone).
    auto* name = d->findChild<QLineEdit*>("fileNameEdit");
    if (!name) return false;
    name->setText(path);
    QMetaObject::invokeMethod(d, "accept");
    return true;
  };
}

Script::Step cancelFile() {
  return [](QWidget* w) {
    auto* d = qobject_cast<QFileDialog*>(w);
    if (!d) return false;
    d->reject();
    return true;
  };
}

// Answers a message box, keeping its text in `said`.
Script::Step answer(QMessageBox::StandardButton button, QStringList* said = nullptr) {
  return [button, said](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return false;
    if (said) said->push_back(box->text());
    if (QAbstractButton* b = box->button(button)) {
      b->click();
    } else {
      box->accept();
    }
    return true;
  };
}

// Every stream of the library's file and the catalog, to compare states.
// Every stream but the catalog and the search's name index (made again from
// the listings by every save), and the catalog's text.
std::map<std::string, std::string> state(tamber::catalog::Library& lib) {
  std::map<std::string, std::string> out;
  auto root = lib.file().root();
  auto elements = root.elements();
  if (!elements) return out;
  for (const auto& e : *elements) {
    if (e.name == "categories" || e.name == tamber::search::kNameIndexHead || e.name.rfind("nix", 0) == 0) continue;
    auto s = root.openStream(e.name);
    out[e.name] = s ? s->readAll().value() : "?";
  }
  out["(catalog)"] = lib.catalog().text();
  return out;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  tamber::test_support::TempDir tmp;
  std::string config, library;

  std::string tamber(const std::string& lib, const std::string& args) {
    auto r = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib) + " --config " + shellQuote(config) +
                        " " + args);
    return r.status == 0 ? r.out : "FAILED " + r.out;
  }

  // A fresh copy of the sample library.
  std::string copyOf(const char* name) {
    auto copy = tmp.path / name;
    std::filesystem::copy_file(library, copy, std::filesystem::copy_options::overwrite_existing);
    return copy.string();
  }

  xmlNode* find(tamber::app::App& app, std::initializer_list<const char*> path) {
    auto& doc = app.library()->catalog();
    xmlNode* at = doc.root();
    size_t i = 0;
    for (const char* name : path) {
      bool last = ++i == path.size();
      xmlNode* next = doc.findByName(at, name, !last);
      if (!next && last) next = doc.findByName(at, name, true);
      if (!next) return nullptr;
      at = next;
    }
    return at;
  }

  int rowOf(tamber::gui::MainWindow& w, const QString& name) {
    auto* m = w.list()->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      if (m->index(r, 0).data().toString() == name) return r;
    }
    return -1;
  }

 private slots:
  void initTestCase() {
    tamber::search::installNameIndex();  // as the program does
    config = (tmp.path / "tamber.cfg").string();
    library = (tmp.path / "sample.cds").string();
    auto tree = tmp.path / "tree";
    std::filesystem::create_directories(tree / "Docs" / "Old");
    std::filesystem::create_directories(tree / "Photos");
    std::ofstream(tree / "Docs" / "notes.txt") << "notes";
    std::ofstream(tree / "Docs" / "Old" / "report.txt") << "old";
    for (int i = 0; i < 30; ++i) std::ofstream(tree / "Photos" / ("p" + std::to_string(i) + ".txt")) << i;
    // Three pictures of one colour each, for the thumbnails.
    const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
      QImage picture(120, 80, QImage::Format_RGB32);
      picture.fill(colours[i]);
      QVERIFY(picture.save(QString::fromStdString((tree / "Photos" / ("colour" + std::to_string(i) + ".png")).string())));
    }
    // An archive with a folder in it.
    auto packed = tmp.path / "packed";
    std::filesystem::create_directories(packed / "inside" / "deeper");
    std::ofstream(packed / "inside" / "a.txt") << "a";
    std::ofstream(packed / "inside" / "deeper" / "b.txt") << "bb";
    std::ofstream(packed / "top.txt") << "top";
    QCOMPARE(runCommand("cd " + shellQuote(packed.string()) + " && zip -qr " +
                        shellQuote((tree / "Docs" / "pack.zip").string()) + " inside top.txt")
                 .status,
             0);
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(library)).status, 0);
    QCOMPARE(tamber(library, "add-folder -q " + shellQuote(tree.string()) + " --label Backup --category Backups")
                 .rfind("FAILED", 0),
             std::string::npos);
    QCOMPARE(tamber(library, "add-folder -q " + shellQuote((tree / "Docs").string()) +
                                 " --label Papers --category Other")
                 .rfind("FAILED", 0),
             std::string::npos);
    QCOMPARE(tamber(library, "mkcat Empty").rfind("FAILED", 0), std::string::npos);
  }

  // Every save dialog adds the extension first and asks before it replaces
  // a file under the final name: a library typed without ".cds" was made
  // empty without a word.
  void aNameWithoutItsExtensionIsNotReplacedWithoutAsking() {
    std::string kept = copyOf("keep.cds");
    auto before = runCommand("sha256sum " + shellQuote(kept)).out;
    QString typed = QString::fromStdString((tmp.path / "keep").string());
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "ask.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(copyOf("open.cds"))));
    auto shownBefore = app.library()->path();
    for (const char* command : {"new", "exportLibrary"}) {
      w.select(find(app, {"Backups"}));
      QStringList asked;
      // "keep" typed, the question answered no, and the dialog that comes
      // back cancelled.
      Script script({typeFile(typed), answer(QMessageBox::No, &asked), cancelFile()});
      w.action(command)->trigger();
      QTRY_VERIFY(script.done());
      QCOMPARE(asked.size(), 1);
      QVERIFY2(asked.front().contains("keep.cds"), qPrintable(asked.front()));
      QCOMPARE(runCommand("sha256sum " + shellQuote(kept)).out, before);
      QCOMPARE(app.library()->path(), shownBefore);
    }
    // Said yes, the file is replaced: a new, empty library is shown.
    Script yes({typeFile(typed), answer(QMessageBox::Yes)});
    w.action("new")->trigger();
    QTRY_VERIFY(yes.done());
    QCOMPARE(app.library()->path(), std::filesystem::path(kept));
    QCOMPARE(app.library()->catalog().libraryStatistics().categories, 0);
    // A CSV file is asked about the same way.
    auto csv = tmp.path / "rows.csv";
    std::ofstream(csv) << "mine";
    Script csvAsked({typeFile(QString::fromStdString((tmp.path / "rows").string())), answer(QMessageBox::No),
                     cancelFile()});
    w.action("exportCsv")->trigger();
    QTRY_VERIFY(csvAsked.done());
    QCOMPARE(runCommand("cat " + shellQuote(csv.string())).out, std::string("mine"));
    app.abandon();
  }

  // A failed New library, a failed Open, and a library that cannot be
  // opened keep the library that was open, open and shown, and say so once.
  void aFailedNewOrOpenKeepsTheLibraryShown() {
    std::string path = copyOf("kept-open.cds");
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "fail.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    std::ofstream(tmp.path / "notes.txt") << "not a library";
    struct Attempt {
      const char* what;
      std::function<bool()> run;
    };
    std::vector<Attempt> attempts = {
        {"new in a missing folder", [&] { return w.newLibrary(QString::fromStdString((tmp.path / "no" / "such" / "x.cds").string())); }},
        {"open of a text file", [&] { return w.openLibrary(QString::fromStdString((tmp.path / "notes.txt").string())); }},
        {"open of a missing file", [&] { return w.openLibrary(QString::fromStdString((tmp.path / "missing.cds").string())); }},
        {"new over the open library", [&] { return w.newLibrary(QString::fromStdString(path)); }},
    };
    for (auto& attempt : attempts) {
      xmlNode* item = find(app, {"Backups", "Backup"});
      QVERIFY(item);
      w.select(item);
      w.openFolder({"Photos"});
      QStringList said;
      Script script({answer(QMessageBox::Ok, &said)});
      QVERIFY2(!attempt.run(), attempt.what);
      QTRY_VERIFY(script.done());
      QApplication::processEvents();
      QCOMPARE(said.size(), 1);
      QVERIFY(app.library());
      QCOMPARE(app.library()->path(), std::filesystem::path(path));
      // The window still shows the library: its rows and pages are read
      // from the catalog that is open.
      QVERIFY2(w.windowTitle().contains("kept-open.cds"), qPrintable(w.windowTitle()));
      QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Photos"});
      w.list()->setCurrentIndex(w.list()->model()->index(rowOf(w, "p3.txt"), 0));
      QVERIFY(w.page()->toPlainText().contains("p3.txt"));
      w.select(find(app, {"Other", "Papers"}));
      QVERIFY(w.page()->toPlainText().contains("Papers"));
    }
    app.abandon();
  }

  // A second start hands over a file that is no library: the running
  // window says so once and keeps its library (it crashed after the box).
  void aSecondStartHandingOverANonLibraryKeepsTheWindow() {
    std::string path = copyOf("handed.cds");
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "hand.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    tamber::gui::SingleInstance first("hand-over-test"), second("hand-over-test");
    QVERIFY(first.claim(""));
    connect(&first, &tamber::gui::SingleInstance::activated, &w, &tamber::gui::MainWindow::handOver);
    std::ofstream(tmp.path / "photo.jpg") << "not a library";
    for (const char* handed : {"photo.jpg", "no-such.cds"}) {
      QStringList said;
      Script script({answer(QMessageBox::Ok, &said)});
      QString file = QString::fromStdString((tmp.path / handed).string());
      QTimer::singleShot(0, [&] { QVERIFY(!second.claim(file)); });
      QTRY_VERIFY(script.done());
      QTest::qWait(200);
      QCOMPARE(said.size(), 1);
      QCOMPARE(app.library()->path(), std::filesystem::path(path));
      w.select(find(app, {"Backups", "Backup"}));
      QCOMPARE(w.list()->model()->rowCount(), 2);
    }
    app.abandon();
  }

  // The meeting place of a first and a second start is a socket in a folder
  // only this user enters; a socket or folder of another user is never
  // used (another user listening there made the program end at once and
  // was handed the library's path).
  void theInstanceSocketIsPrivate() {
    QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    auto runtime = tmp.path / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
    {
      tamber::gui::SingleInstance first("private-key");
      QVERIFY(first.serverName().startsWith(QString::fromStdString((runtime / "tamber").string())));
      QVERIFY(first.claim(""));
      struct stat folder {}, socket {};
      QCOMPARE(::lstat((runtime / "tamber").c_str(), &folder), 0);
      QCOMPARE(folder.st_mode & 0777, 0700u);
      QCOMPARE(::lstat(first.serverName().toLocal8Bit().constData(), &socket), 0);
      QVERIFY(S_ISSOCK(socket.st_mode));
      QCOMPARE(socket.st_uid, ::getuid());
    }
    // A runtime folder others may enter is not used: /tmp/tamber-UID, 0700.
    std::filesystem::permissions(runtime, std::filesystem::perms::all);
    QString fallback = QString("/tmp/tamber-%1").arg(::getuid());
    {
      tamber::gui::SingleInstance s("private-key");
      QVERIFY(s.serverName().startsWith(fallback + "/"));
    }
    if (::getuid() == 0) {
      // Run as root (as CI runs): a folder of another user in that place
      // means no meeting place at all, and every start runs its own window.
      auto theirs = tmp.path / "theirs";
      std::filesystem::create_directories(theirs);
      std::filesystem::permissions(theirs, std::filesystem::perms::owner_all);
      QCOMPARE(::chown(theirs.c_str(), 65534, 65534), 0);
      qputenv("XDG_RUNTIME_DIR", "");
      std::filesystem::rename(fallback.toStdString(), (tmp.path / "ours").string());
      std::filesystem::rename(theirs, fallback.toStdString());
      {
        tamber::gui::SingleInstance a("private-key"), b("private-key");
        QVERIFY(a.serverName().isEmpty());
        QVERIFY(a.claim(""));
        QVERIFY(b.claim("/some/library.cds"));
      }
      std::filesystem::remove_all(fallback.toStdString());
      std::filesystem::rename(tmp.path / "ours", fallback.toStdString());
      // A socket another user made in our folder is not spoken to.
      QLocalServer listener;
      tamber::gui::SingleInstance probe("stranger-key");
      QVERIFY(listener.listen(probe.serverName()));
      QCOMPARE(::chown(probe.serverName().toLocal8Bit().constData(), 65534, 65534), 0);
      QSignalSpy spoken(&listener, &QLocalServer::newConnection);
      QVERIFY(probe.claim("/secret/library.cds"));
      QTest::qWait(100);
      QCOMPARE(spoken.count(), 0);
    }
    qputenv("XDG_RUNTIME_DIR", saved);
  }

  // Delete, F2 and Alt+Enter act on the selection of the view with the
  // focus, and the question names exactly what goes.
  void commandsActOnTheFocusedView() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "focus.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.openLibrary(QString::fromStdString(copyOf("focus.cds"))));
    w.select(find(app, {"Backups"}));
    // The list shows the category's folder "Backup"; it has the focus.
    w.list()->setFocus();
    w.list()->setCurrentIndex(w.list()->model()->index(rowOf(w, "Backup"), 0));
    QCOMPARE(w.target(), find(app, {"Backups", "Backup"}));
    QStringList asked;
    Script no({answer(QMessageBox::No, &asked)});
    QTest::keyClick(w.list(), Qt::Key_Delete);
    QTRY_VERIFY(no.done());
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.front().contains("\"Backup\"") && !asked.front().contains("category"), qPrintable(asked.front()));
    QVERIFY(find(app, {"Backups", "Backup"}));
    // F2 edits the name in the list, where the focus is.
    QTest::keyClick(w.list(), Qt::Key_F2);
    auto* editor = w.list()->findChild<QLineEdit*>();
    QVERIFY(editor && editor->isVisible());
    editor->setText("Backup renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(find(app, {"Backups", "Backup renamed"}));
    QVERIFY(find(app, {"Backups"}));  // the category kept its name
    // In the tree the same key acts on the tree's selection.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.tree()->setFocus();
    w.select(find(app, {"Other"}));
    QCOMPARE(w.target(), find(app, {"Other"}));
    Script yes({answer(QMessageBox::Yes, &asked)});
    QTest::keyClick(w.tree(), Qt::Key_Delete);
    QTRY_VERIFY(yes.done());
    QVERIFY(asked.back().contains("\"Other\""));
    QVERIFY(!find(app, {"Other"}));
    // A file in a folder is nothing the Edit menu can delete or rename.
    w.select(find(app, {"Backups", "Backup renamed"}));
    w.openFolder({"Photos"});
    w.list()->setFocus();
    w.list()->setCurrentIndex(w.list()->model()->index(0, 0));
    QVERIFY(!w.target());
    QVERIFY(!w.action("delete")->isEnabled());
    QVERIFY(!w.action("rename")->isEnabled());
    app.abandon();
  }

  // "3 folders, 12 files" with the plural of each language.
  void theStatusBarCountsFoldersAndFiles() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "count.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.select(find(app, {"Backups", "Backup"}));
    QCOMPARE(w.statusBar()->currentMessage(), QString("2 folders, 0 files"));
    w.openFolder({"Docs"});
    QCOMPARE(w.statusBar()->currentMessage(), QString("1 folder, 2 files"));
    w.openFolder({"Docs", "Old"});
    QCOMPARE(w.statusBar()->currentMessage(), QString("0 folders, 1 file"));
    w.switchLanguage("fr");
    QCOMPARE(w.statusBar()->currentMessage(), QString("0 dossier, 1 fichier"));
    w.openFolder({"Photos"});
    QCOMPARE(w.statusBar()->currentMessage(), QString("0 dossier, 33 fichiers"));
    w.switchLanguage("it");
    w.openFolder({"Docs"});
    QCOMPARE(w.statusBar()->currentMessage(), QString("1 cartella, 2 file"));
    w.switchLanguage("en");
    app.abandon();
  }

  // Every edit comes back exactly on undo, its streams byte for byte, and
  // goes again on redo; the library saved after undoing all is the one
  // opened.
  void undoTakesBackEveryKindOfEdit() {
    std::string path = copyOf("undo.cds");
    auto importable = tmp.path / "import-me.cds";
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(importable.string())).status, 0);
    QCOMPARE(tamber(importable.string(), "add-folder -q " + shellQuote((tmp.path / "tree" / "Docs").string()) +
                                             " --label Imported --category Backups")
                 .rfind("FAILED", 0),
             std::string::npos);
    QImage cover(60, 40, QImage::Format_RGB32);
    cover.fill(Qt::magenta);
    QString coverFile = QString::fromStdString((tmp.path / "cover.png").string());
    QVERIFY(cover.save(coverFile));

    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "undo.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    auto& lib = *app.library();
    auto original = state(lib);
    std::vector<std::pair<QString, std::function<void()>>> edits = {
        {"Rename", [&] { QVERIFY(w.renameNode(find(app, {"Backups"}), "Old backups")); }},
        {"Move", [&] { QVERIFY(w.moveNode(find(app, {"Old backups", "Backup"}), find(app, {"Other"}))); }},
        {"Delete", [&] { QVERIFY(w.deleteNode(find(app, {"Other", "Papers"}))); }},
        {"Cover", [&] { QVERIFY(w.setCoverFrom(find(app, {"Other", "Backup"}), coverFile)); }},
        {"Import", [&] { QVERIFY(w.importLibraryFrom(QString::fromStdString(importable.string()))); }},
        {"Delete", [&] { QVERIFY(w.deleteNode(find(app, {"Other"}))); }},
    };
    std::vector<std::map<std::string, std::string>> after;
    for (auto& [label, edit] : edits) {
      edit();
      QVERIFY2(w.undoHistory().undoLabel().rfind(label.toStdString(), 0) == 0, w.undoHistory().undoLabel().c_str());
      QVERIFY(w.action("undo")->text().contains(QString::fromStdString(w.undoHistory().undoLabel())));
      after.push_back(state(lib));
    }
    // The fields of the dialog are one more step.
    {
      xmlNode* item = find(app, {"Backups", "Imported"});
      QVERIFY(item);
      auto recording = w.undoHistory().size();
      Script fields({[](QWidget* d) {
        auto* dialog = qobject_cast<tamber::gui::ItemDialog*>(d);
        if (!dialog) return false;
        dialog->edit("comment")->setText("shelf 9");
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return true;
      }});
      w.select(item);
      w.tree()->setFocus();
      w.action("edit")->trigger();
      QTRY_VERIFY(fields.done());
      QCOMPARE(w.undoHistory().size(), recording + 1);
      after.push_back(state(lib));
    }
    QVERIFY(after.back() != original);
    // Back, step by step: each state before comes again.
    for (size_t i = after.size(); i-- > 0;) {
      QVERIFY(w.undo());
      QVERIFY2(state(lib) == (i == 0 ? original : after[i - 1]), qPrintable(QString("undo of step %1").arg(i)));
    }
    QVERIFY(!w.action("undo")->isEnabled());
    // And forward again.
    for (size_t i = 0; i < after.size(); ++i) {
      QVERIFY(w.redo());
      QVERIFY2(state(lib) == after[i], qPrintable(QString("redo of step %1").arg(i)));
    }
    // A save keeps the history; undoing all and saving gives the library
    // that was opened, which the storage checker passes.
    QVERIFY(app.saveLibrary());
    while (w.undo()) {
    }
    QVERIFY(state(lib) == original);
    QVERIFY(w.windowTitle().endsWith("*]"));
    QVERIFY(app.saveLibrary());
    // The save made the index of what is there now.
    auto index = tamber::search::inspectNameIndex(lib, true);
    QVERIFY(index.current && index.problems.empty() && index.itemsIndexed == index.items);
    app.abandon();
    QCOMPARE(tamber(path, "storage check " + shellQuote(path)).rfind("FAILED", 0), std::string::npos);
    auto reopened = tamber::catalog::Library::open(path, true);
    QVERIFY(reopened);
    auto saved = state(**reopened);
    saved.erase("(catalog)");
    original.erase("(catalog)");
    QVERIFY(saved == original);
  }

  // Home and End go to the first and last row; Backspace and Alt+Up to the
  // folder above, Alt+Left and Alt+Right back and forward; Enter opens;
  // typing selects by name; Escape closes the help.
  void keysOfAFileManager() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "keys.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.select(find(app, {"Backups", "Backup"}));
    w.openFolder({"Photos"});
    auto* list = w.list();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(5, 3));
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(list->currentIndex().row(), list->model()->rowCount() - 1);
    QTest::keyClick(list, Qt::Key_Home);
    QCOMPARE(list->currentIndex().row(), 0);
    QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(list->currentIndex().row(), list->model()->rowCount() - 1);
    QCOMPARE(list->horizontalScrollBar()->value(), 0);  // the names stay in sight
    // Typing selects by name, whatever column is current.
    QTest::keyClicks(list, "p2");
    QCOMPARE(list->currentIndex().siblingAtColumn(0).data().toString(), QString("p2.txt"));
    // Up to the item's top, with Photos selected; Enter opens it again.
    QTest::keyClick(list, Qt::Key_Backspace);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{});
    QCOMPARE(list->currentIndex().siblingAtColumn(0).data().toString(), QString("Photos"));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Photos"});
    QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{});
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Photos"});
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{});
    // Up from an item's top goes to its category, then the library.
    QTest::keyClick(list, Qt::Key_Backspace);
    QCOMPARE(w.location().item, -1L);
    QTest::keyClick(list, Qt::Key_Backspace);
    QCOMPARE(w.location(), tamber::gui::Location{});
    // The path bar's parts lead where they name.
    w.select(find(app, {"Backups", "Backup"}));
    w.openFolder({"Docs", "Old"});
    QAction* part = nullptr;
    for (QAction* a : w.pathBar()->actions()) {
      if (a->text().startsWith("Docs")) part = a;
    }
    QVERIFY(part);
    part->trigger();
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Docs"});
    // Escape closes the help.
    w.action("help")->trigger();
    QWidget* help = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == "helpWindow" && top->isVisible()) help = top;
    }
    QVERIFY(help);
    help->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), help);
    QTest::keyClick(help->focusWidget() ? help->focusWidget() : help, Qt::Key_Escape);
    QTRY_VERIFY(!help || !help->isVisible());
    app.abandon();
  }

  // The context menus offer what fits what is under the mouse, and act on it.
  void contextMenusOfferWhatFitsUnderTheMouse() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "menus.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    auto names = [](QMenu* m) {
      QStringList out;
      for (QAction* a : m->actions()) {
        if (!a->isSeparator()) out << a->objectName();
      }
      delete m;
      return out;
    };
    QModelIndex item = w.libraryModel()->indexOf(find(app, {"Backups", "Backup"}));
    w.tree()->expandAll();
    QStringList onItem = names(w.contextMenu(w.tree(), w.tree()->visualRect(item).center()));
    for (const char* name : {"edit", "rename", "delete", "cover", "updateItem", "report", "copyPath"}) {
      QVERIFY2(onItem.contains(name), name);
    }
    QModelIndex category = w.libraryModel()->indexOf(find(app, {"Other"}));
    QStringList onCategory = names(w.contextMenu(w.tree(), w.tree()->visualRect(category).center()));
    QVERIFY(onCategory.contains("exportXml") && onCategory.contains("newCategory"));
    QVERIFY(!onCategory.contains("edit"));
    // On a file: its path goes to the clipboard in the form the command line takes.
    w.select(find(app, {"Backups", "Backup"}));
    w.openFolder({"Photos"});
    int row = rowOf(w, "p2.txt");
    QRect at = w.list()->visualRect(w.list()->model()->index(row, 0));
    QMenu* m = w.contextMenu(w.list(), at.center());
    QStringList onFile;
    for (QAction* a : m->actions()) onFile << a->objectName();
    QVERIFY(onFile.contains("copyPath"));
    QVERIFY(!onFile.contains("delete"));
    w.action("copyPath")->trigger();
    delete m;
    QCOMPARE(QApplication::clipboard()->text(), QString("Backups/Backup/Photos/p2.txt"));
    // On a picture with a thumbnail: it can be saved.
    at = w.list()->visualRect(w.list()->model()->index(rowOf(w, "colour0.png"), 0));
    QVERIFY(names(w.contextMenu(w.list(), at.center())).contains("saveThumbnail"));
    // The Contents bar and the empty part of the list.
    QVERIFY(names(w.contextMenu(w.folders(), QPoint(5, 5))).contains("copyPath"));
    QVERIFY(names(w.contextMenu(w.list(), QPoint(5, w.list()->viewport()->height() - 3))).contains("up"));
    app.abandon();
  }

  // The icons view: a folder's files as a grid of their stored thumbnails,
  // type icons where there is none.
  void theIconsViewShowsThumbnails() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "icons.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.resize(1000, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.select(find(app, {"Backups", "Backup"}));
    w.openFolder({"Photos"});
    QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
    QVERIFY(w.showsIcons());
    QVERIFY(w.icons()->isVisible());
    int red = rowOf(w, "colour0.png");
    QVERIFY(red >= 0);
    QModelIndex index = w.icons()->model()->index(red, 0);
    QImage thumbnail = index.data(tamber::gui::ContentModel::kThumbnailRole).value<QImage>();
    QVERIFY(!thumbnail.isNull());
    QCOMPARE(thumbnail.size(), QSize(64, 43));
    QVERIFY(!w.icons()->model()->index(rowOf(w, "p0.txt"), 0).data(tamber::gui::ContentModel::kThumbnailRole).isValid());
    // Painted: the red picture's cell holds red.
    w.icons()->scrollTo(index);
    QImage grab = w.icons()->viewport()->grab().toImage();
    QRect cell = w.icons()->visualRect(index);
    QColor middle = grab.pixelColor(cell.center().x() * grab.width() / w.icons()->viewport()->width(),
                                    (cell.top() + 4 + 32) * grab.height() / w.icons()->viewport()->height());
    QVERIFY2(middle.red() > 200 && middle.green() < 60, qPrintable(middle.name()));
    // The selection is one for both views; back to details.
    w.icons()->setCurrentIndex(index);
    QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
    QVERIFY(!w.showsIcons());
    QCOMPARE(w.list()->currentIndex().row(), red);
    // A category's entries are always a list.
    QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
    w.select(find(app, {"Backups"}));
    QVERIFY(!w.showsIcons());
    app.abandon();
  }

  // An archive whose listing stops short (here: the download was cut off)
  // says so on its property page, above the members that were listed.
  void partialListingsSaySo() {
    auto tree = tmp.path / "cut";
    std::filesystem::create_directories(tree / "src");
    QCOMPARE(runCommand("cd " + shellQuote((tree / "src").string()) +
                        " && echo a > first.txt && head -c 300000 /dev/urandom > second.bin && echo c > third.txt"
                        " && tar czf ../cut.tar.gz first.txt second.bin third.txt"
                        " && python3 -c \"import zipfile; z = zipfile.ZipFile('../noted.zip', 'w');"
                        " z.comment = b'one\\r\\ntwo\\rthree'; z.write('first.txt'); z.close()\""
                        " && cd .. && rm -r src && truncate -s 100000 cut.tar.gz && convert -size 40x30 xc:red red.png"
                        " && printf '<html><head><title>Notes</title></head></html>' > page.html")
                 .status,
             0);
    std::string cut = (tmp.path / "cut.cds").string();
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(cut)).status, 0);
    QCOMPARE(tamber(cut, "add-folder -q " + shellQuote(tree.string()) + " --label Cut --category Downloads")
                 .rfind("FAILED", 0),
             std::string::npos);
    QCOMPARE(tamber(cut, "add-disc -q --category Music --drive " + shellQuote("sim:" TAMBER_DISCS "/audio-cd.xml"))
                 .rfind("FAILED", 0),
             std::string::npos);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "cut.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.resize(900, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.openLibrary(QString::fromStdString(cut)));
    w.select(find(app, {"Downloads", "Cut"}));
    // The folder's page says what its scan read besides names.
    QString itemPage = w.page()->toPlainText();
    if (const char* shot = std::getenv("TAMBER_SHOT")) w.grab().save(QString::fromLocal8Bit(shot) + ".item.png");
    QVERIFY2(itemPage.contains(QRegularExpression("Read besides names\\s+Thumbnails of pictures, Audio tags, "
                                                  "Document properties, Archive contents")),
             qPrintable(itemPage));
    QVERIFY2(itemPage.startsWith("Cut\n"), qPrintable(itemPage));  // a folder is no "DVD: "
    // Its fields by their names in the user's language, one text per field.
    QCOMPARE(tamber::app::itemFields().size(),
             size_t(tamber::gui::kFieldListingParts - tamber::gui::kFieldLabel + 1));
    QCOMPARE(std::string(tamber::app::itemFields().back().first), std::string("listingParts"));
    QVERIFY2(itemPage.contains(QRegularExpression("Capacity \\(MB\\)\\s+1")), qPrintable(itemPage));
    auto* list = w.list();
    list->setCurrentIndex(list->model()->index(rowOf(w, "cut.tar.gz"), 0));
    if (const char* shot = std::getenv("TAMBER_SHOT")) w.grab().save(QString::fromLocal8Bit(shot));
    QString page = w.page()->toPlainText();
    QVERIFY2(page.contains("partial listing: the rest of the archive could not be read"), qPrintable(page));
    QVERIFY(page.contains("first.txt"));
    QVERIFY(!page.contains("third.txt"));
    // An archive's comment keeps its lines, however they were ended.
    list->setCurrentIndex(list->model()->index(rowOf(w, "noted.zip"), 0));
    page = w.page()->toPlainText();
    if (const char* shot = std::getenv("TAMBER_SHOT")) w.grab().save(QString::fromLocal8Bit(shot) + ".noted.png");
    QVERIFY2(page.contains("noted.zip\none\ntwo\nthree"), qPrintable(page));
    // A file's recorded properties by their names, not their keys.
    list->setCurrentIndex(list->model()->index(rowOf(w, "red.png"), 0));
    page = w.page()->toPlainText();
    QVERIFY2(page.contains(QRegularExpression("Picture size\\s+40 x 30")), qPrintable(page));
    QVERIFY2(!page.contains("bitsPerPixel") && page.contains("Bits per pixel"), qPrintable(page));
    list->setCurrentIndex(list->model()->index(rowOf(w, "page.html"), 0));
    page = w.page()->toPlainText();
    QVERIFY2(page.contains(QRegularExpression("Document type\\s+HTML document")), qPrintable(page));
    // An audio track's length is its playing time, not a size in CD frames.
    w.select(find(app, {"Music", "Night Drive"}));
    QVERIFY2(w.page()->toPlainText().startsWith("CD: Night Drive\n"), qPrintable(w.page()->toPlainText()));
    list->setCurrentIndex(list->model()->index(0, 0));
    page = w.page()->toPlainText();
    if (const char* shot = std::getenv("TAMBER_SHOT")) w.grab().save(QString::fromLocal8Bit(shot) + ".track.png");
    QVERIFY2(page.contains(QRegularExpression("Duration\\s+2:57")), qPrintable(page));
    QVERIFY2(!page.contains("Size"), qPrintable(page));
    app.abandon();
  }

  // Enter on an archive shows its recorded members as a folder; Backspace
  // leads out again.
  void archivesOpenLikeFolders() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "archive.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    w.select(find(app, {"Backups", "Backup"}));
    w.openFolder({"Docs"});
    auto* list = w.list();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(rowOf(w, "pack.zip"), 0));
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(w.contentModel()->showsArchive());
    QCOMPARE(list->model()->rowCount(), 2);  // the folder "inside", then top.txt
    QCOMPARE(list->model()->index(0, 0).data().toString(), QString("inside"));
    QCOMPARE(list->model()->index(1, 0).data().toString(), QString("top.txt"));
    list->setCurrentIndex(list->model()->index(1, 0));
    QVERIFY(w.page()->toPlainText().contains("pack.zip"));
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(w.contentModel()->archiveSteps(), std::vector<std::string>{"inside"});
    QCOMPARE(list->model()->rowCount(), 2);  // deeper, a.txt
    QVERIFY(w.pathBar()->actions().last()->text().contains("inside"));
    QTest::keyClick(list, Qt::Key_Backspace);
    QTest::keyClick(list, Qt::Key_Backspace);
    QVERIFY(!w.contentModel()->showsArchive());
    QCOMPARE(w.contentModel()->steps(), std::vector<std::string>{"Docs"});
    QCOMPARE(list->currentIndex().siblingAtColumn(0).data().toString(), QString("pack.zip"));
    // The Contents bar follows the list's folder.
    QCOMPARE(w.folders()->currentItem()->text(0), QString("Docs"));
    w.openFolder({"Docs", "Old"});
    QCOMPARE(w.folders()->currentItem()->text(0), QString("Old"));
    app.abandon();
  }

  // The find results sort by every column (sizes as numbers) and say where
  // each disc is kept; a regular expression that does not compile clears
  // the results and says why.
  void findResultsSortAndSayWhyNot() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "findsort.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    tamber::gui::FindDialog* d = w.find();
    QVERIFY(d);
    QSignalSpy ended(d, &tamber::gui::FindDialog::searchEnded);
    d->textBox()->setCurrentText("p1");
    QVERIFY(d->start());
    QVERIFY(ended.wait(10000));
    QTreeWidget* results = d->results();
    QCOMPARE(results->topLevelItemCount(), 11);
    QCOMPARE(results->columnCount(), 6);
    QVERIFY(results->topLevelItem(0)->text(5).contains("tree"));  // kept at: where it was read
    results->sortByColumn(3, Qt::DescendingOrder);  // by size: "p10" ... are 2 bytes, "p1" 1
    QCOMPARE(results->topLevelItem(10)->text(1), QString("Photos/p1.txt"));
    results->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(results->topLevelItem(0)->text(1), QString("Photos/p1.txt"));
    d->findChildren<QCheckBox*>().at(2)->setChecked(true);  // regular expression
    d->textBox()->setCurrentText("(");
    QVERIFY(!d->start());
    QCOMPARE(results->topLevelItemCount(), 0);
    d->close();
    app.abandon();
  }

  // Tools > Find duplicates: the sample's two items share the Docs folder;
  // without hashes they are grouped by name and size, and it says so. A
  // double click on a file asks the window to show it.
  void duplicatesAreGroupedAndShown() {
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "dupes.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(library)));
    tamber::gui::DuplicatesDialog* d = w.findDuplicates();
    QVERIFY(d);
    QTreeWidget* results = d->results();
    QCOMPARE(results->topLevelItemCount(), 3);  // pack.zip, notes.txt, report.txt
    QCOMPARE(results->topLevelItem(0)->text(0), QString("pack.zip"));
    QCOMPARE(results->topLevelItem(1)->text(0), QString("notes.txt"));
    QTreeWidgetItem* copy = results->topLevelItem(1)->child(0);
    QCOMPARE(copy->text(0), QString("Backups/Backup/Docs/notes.txt"));
    bool said = false;
    for (QLabel* l : d->findChildren<QLabel*>()) said = said || l->text().contains("grouped by name and size");
    QVERIFY(said);
    QSignalSpy shown(d, &tamber::gui::DuplicatesDialog::showResult);
    emit results->itemActivated(copy, 0);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(2).toString(), QString("Docs\\notes.txt"));
    d->close();
    app.abandon();
  }

  // Tools > Shared catalogue: the sample published on a real server is
  // browsed level by level and searched; the address is kept; a server
  // that is not there is said in the dialog.
  void sharedCatalogueIsBrowsedAndSearched() {
    tamber::test_support::TempDir serverDir;
    tamber::test_support::PgCluster cluster;
    std::string problem = cluster.start(serverDir.path);
    QVERIFY2(problem.empty(), problem.c_str());
    QCOMPARE(tamber(copyOf("shared.cds"), "publish --to " + shellQuote(cluster.url())).rfind("FAILED", 0),
             std::string::npos);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "shared.cfg").string()}));
    tamber::gui::MainWindow w(app);
    auto* d = w.sharedCatalogue();
    QVERIFY(d);
    QVERIFY(!d->searchBox()->isEnabled());
    d->address()->setText(QString::fromStdString("host=" + (tmp.path / "nothing").string() + " user=x dbname=y"));
    QVERIFY(!d->connectToServer());
    QVERIFY(d->status()->text().contains("cannot connect"));
    d->address()->setText(QString::fromStdString(cluster.url()));
    QVERIFY(d->connectToServer());
    QVERIFY(d->searchBox()->isEnabled());
    QTreeWidget* tree = d->tree();
    QCOMPARE(tree->topLevelItemCount(), 3);  // Backups, Empty, Other
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("Backups"));
    QTreeWidgetItem* backups = tree->topLevelItem(0);
    backups->setExpanded(true);
    QCOMPARE(backups->childCount(), 1);
    QTreeWidgetItem* backup = backups->child(0);
    QCOMPARE(backup->text(0), QString("Backup"));
    backup->setExpanded(true);
    QCOMPARE(backup->child(0)->text(0), QString("Docs"));  // folders first
    QTreeWidgetItem* docs = backup->child(0);
    docs->setExpanded(true);
    QStringList names;
    for (int i = 0; i < docs->childCount(); ++i) names << docs->child(i)->text(0);
    QCOMPARE(names, QStringList({"Old", "notes.txt", "pack.zip"}));

    d->searchBox()->setText("report");
    QVERIFY(d->search());
    QCOMPARE(d->results()->topLevelItemCount(), 2);
    QCOMPARE(d->results()->topLevelItem(0)->text(1), QString("Backups/Backup/Docs/Old/report.txt"));
    QVERIFY(d->status()->text().startsWith("2 "));
    d->searchBox()->setText("p?.txt");
    QVERIFY(d->search());
    QCOMPARE(d->results()->topLevelItemCount(), 10);
    d->close();
    QCOMPARE(app.settings().getText("App-Preference", "SharedCatalogue"), cluster.url());
    app.abandon();
  }

  // Verify on an item reads its folder again and lists what differs; the
  // list is saved as CSV; Compare with a copy finds the moved file.
  void verifyAndCompareListDifferences() {
    auto src = tmp.path / "verified";
    std::filesystem::create_directories(src / "sub");
    std::ofstream(src / "kept.txt") << "kept";
    std::ofstream(src / "gone.txt") << "gone";
    std::ofstream(src / "sub/moved.txt") << "moved";
    std::string path = (tmp.path / "verify.cds").string();
    QCOMPARE(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(path)).status, 0);
    QVERIFY(tamber(path, "add-folder -q --hash " + shellQuote(src.string()) + " --label V --category Checked")
                .rfind("FAILED", 0) != 0);
    std::filesystem::remove(src / "gone.txt");
    std::filesystem::rename(src / "sub/moved.txt", src / "moved.txt");

    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "verify.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    xmlNode* item = find(app, {"Checked", "V"});
    QVERIFY(item);
    tamber::gui::VerifyDialog* d = w.verifyItem(item);
    QVERIFY(d);
    QTRY_VERIFY(d->finished());
    QTreeWidget* results = d->results();
    QCOMPARE(results->topLevelItemCount(), 3);
    QCOMPARE(results->topLevelItem(0)->text(0) + " " + results->topLevelItem(0)->text(1), QString("missing gone.txt"));
    QCOMPARE(results->topLevelItem(2)->text(0) + " " + results->topLevelItem(2)->text(1), QString("new moved.txt"));
    QVERIFY(d->summary()->text().contains("1 file alike, 1 of them compared by content"));
    QSignalSpy shown(d, &tamber::gui::VerifyDialog::showResult);
    emit results->itemActivated(results->topLevelItem(0), 0);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(2).toString(), QString("gone.txt"));
    auto csv = tmp.path / "verify.csv";
    QVERIFY(d->saveCsv(QString::fromStdString(csv.string())));
    QCOMPARE(runCommand("cat " + shellQuote(csv.string())).out,
             std::string("status,path,details\r\nmissing,gone.txt,\r\nmissing,sub/moved.txt,\r\nnew,moved.txt,\r\n"));
    d->close();

    tamber::gui::VerifyDialog* c = w.verifyItem(item, QString::fromStdString(src.string()));
    QVERIFY(c);
    QTRY_VERIFY(c->finished());
    QCOMPARE(c->results()->topLevelItemCount(), 2);
    QCOMPARE(c->results()->topLevelItem(1)->text(0) + " " + c->results()->topLevelItem(1)->text(2),
             QString("moved -> moved.txt"));
    c->close();
    app.abandon();
  }

  // While a job writes the library, the window searches and exports it;
  // the commands that would change it are off and say why; the job files
  // its item only once nothing reads the catalog; a cancelled job leaves
  // the file as it was, byte for byte and its time.
  void searchesWhileAJobWritesAndACancelLeavesTheFile() {
    static std::atomic<bool> hold{true};
    static std::atomic<int> opened{0};
    tamber::scan::beforeReaderOpenHook = [](const std::string&) {
      ++opened;
      while (hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    auto slow = tmp.path / "slow";
    std::filesystem::create_directories(slow);
    for (int i = 0; i < 300; ++i) std::ofstream(slow / ("clip" + std::to_string(i) + ".jpg")) << "not a picture " << i;
    std::string path = copyOf("busy.cds");
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "busy.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    auto& doc = app.library()->catalog();

    auto* d = w.addFolder();
    QVERIFY(d);
    d->setQuiet(true);
    d->folderEdit()->setText(QString::fromStdString(slow.string()));
    d->categoryBox()->setCurrentText("Clips");
    QSignalSpy done(d, &tamber::gui::AddFolderDialog::finished);
    QVERIFY(d->start());
    QTRY_VERIFY(opened.load() > 0);
    QVERIFY(!w.action("delete")->isEnabled());
    QVERIFY(!w.action("addFolder")->isEnabled());
    QCOMPARE(w.action("delete")->toolTip(), QString("A job is writing the library: this can be done when it ends"));
    QVERIFY(w.action("find")->isEnabled() && w.action("report")->isEnabled() && w.action("exportCsv")->isEnabled());
    tamber::gui::FindDialog* f = w.find();
    QVERIFY(f);
    QSignalSpy ended(f, &tamber::gui::FindDialog::searchEnded);
    f->textBox()->setCurrentText("p1");
    QVERIFY(f->start());
    QVERIFY(ended.wait(10000));
    QCOMPARE(f->results()->topLevelItemCount(), 11);
    f->close();
    QVERIFY(w.exportCsvTo(QString::fromStdString((tmp.path / "during.csv").string())));

    // The walk ends while a reader holds the catalog: the item waits.
    {
      tamber::gui::CatalogReading reading;
      hold.store(false);
      QTRY_VERIFY(opened.load() >= 300);
      QTest::qWait(1500);
      QVERIFY(done.isEmpty());
      QVERIFY(!doc.findByName(doc.findByName(doc.root(), "Clips", true), "slow", false));
    }
    QVERIFY(done.wait(10000));
    QCOMPARE(done.at(0).at(0).toBool(), true);
    QVERIFY(doc.findByName(doc.findByName(doc.root(), "Clips", true), "slow", false));
    d->close();  // it stays open for a next folder
    QTRY_VERIFY(!w.busy());
    QVERIFY(!w.action("delete")->toolTip().contains("job"));
    QVERIFY(app.saveLibrary());

    // A job whose walk has written its listing, cancelled while a search
    // reads: once it is done, nothing of the job is left in the file.
    auto bytes = [&] {
      std::ifstream in(path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::string before = bytes();
    struct stat st0 {};
    ::stat(path.c_str(), &st0);
    QTest::qWait(20);
    opened.store(0);
    d = w.addFolder();
    d->setQuiet(true);
    d->folderEdit()->setText(QString::fromStdString(slow.string()));
    d->categoryBox()->setCurrentText("Gone/Deeper");
    QSignalSpy cancelled(d, &tamber::gui::AddFolderDialog::finished);
    {
      tamber::gui::CatalogReading reading;
      QVERIFY(d->start());
      QTRY_VERIFY(opened.load() >= 300);
      QTest::qWait(600);
      QVERIFY(bytes() != before);
      d->cancel();
      QVERIFY(cancelled.isEmpty());
    }
    QVERIFY(cancelled.wait(10000));
    QCOMPARE(cancelled.at(0).at(0).toBool(), false);
    QVERIFY(!doc.findByName(doc.root(), "Gone", true));
    QVERIFY(bytes() == before);
    struct stat st1 {};
    ::stat(path.c_str(), &st1);
    QCOMPARE(st1.st_mtim.tv_sec, st0.st_mtim.tv_sec);
    QCOMPARE(st1.st_mtim.tv_nsec, st0.st_mtim.tv_nsec);
    tamber::scan::beforeReaderOpenHook = nullptr;
    app.abandon();
  }

  // A library that another program writes opens for reading: the title
  // says who writes it, each state it commits is shown, and once it has
  // ended the window may change the library again.
  void aLibraryAnotherProgramWritesOpensForReading() {
    std::string path = copyOf("shared.cds");
    auto writer = tamber::catalog::Library::open(path, false);
    QVERIFY(writer);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "shared.cfg").string()}));
    tamber::gui::MainWindow w(app);
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    QVERIFY(app.library()->readOnly());
    QVERIFY2(w.windowTitle().contains("(read-only: window_tests"), qPrintable(w.windowTitle()));
    QVERIFY(!w.action("newCategory")->isEnabled());
    QVERIFY(!find(app, {"Fresh"}));
    QVERIFY((*writer)->catalog().addCategory({}, "Fresh", ""));
    QVERIFY((*writer)->save());
    QTRY_VERIFY_WITH_TIMEOUT(find(app, {"Fresh"}) != nullptr, 5000);
    QVERIFY(app.library()->readOnly());
    writer.value().reset();
    QTRY_VERIFY_WITH_TIMEOUT(!app.library()->readOnly(), 6000);
    QVERIFY2(!w.windowTitle().contains("read-only"), qPrintable(w.windowTitle()));
    QVERIFY(w.action("newCategory")->isEnabled());
    QVERIFY(find(app, {"Fresh"}));
    app.abandon();
  }

  // The report's preview is made on a worker: the window has it back at
  // once, can cancel it, and shows how much of the report the preview holds.
  void theReportPreviewIsMadeOnAWorker() {
    auto big = tmp.path / "big";
    std::filesystem::create_directories(big);
    for (int i = 0; i < 4000; ++i) std::ofstream(big / ("f" + std::to_string(i))).put('x');
    std::string path = copyOf("report.cds");
    QCOMPARE(tamber(path, "add-folder -q " + shellQuote(big.string()) + " --label Big --category Many")
                 .rfind("FAILED", 0),
             std::string::npos);
    tamber::app::App app;
    QVERIFY(app.start({(tmp.path / "preview.cfg").string()}));
    tamber::gui::MainWindow w(app);
    w.show();
    QVERIFY(w.openLibrary(QString::fromStdString(path)));
    w.select(app.library()->catalog().root());
    auto* r = w.report();
    QVERIFY(r);
    QVERIFY(r->building());
    r->cancelPreview();
    QVERIFY(!r->building());
    QVERIFY(r->html().isEmpty());
    QVERIFY(r->refresh());
    QVERIFY(r->waitForPreview());
    QVERIFY(r->previewCut());
    QVERIFY(r->findChild<QLabel*>("previewNotice")->text().contains(QLocale().toString(r->entriesInSelection())));
    // Show more: four times as much.
    long long limit = r->previewLimit();
    int rows = r->html().count("<tr");
    for (QPushButton* b : r->findChildren<QPushButton*>()) {
      if (b->text() == "Show more") b->click();
    }
    QCOMPARE(r->previewLimit(), 4 * limit);
    QVERIFY(r->waitForPreview());
    QVERIFY2(r->html().count("<tr") > 3 * rows, qPrintable(QString("%1 rows, then %2").arg(rows).arg(r->html().count("<tr"))));
    r->close();
    app.abandon();
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
