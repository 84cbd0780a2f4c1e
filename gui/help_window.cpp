#include "gui/help_window.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QStyle>
#include <QTextBrowser>
#include <QShortcut>
#include <QToolBar>
#include <QUrl>

#include "app/app.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

std::filesystem::path helpDirectory(const std::string& language) {
  std::error_code ec;
  std::vector<std::filesystem::path> roots;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) roots.push_back(exe.parent_path().parent_path() / "share" / "tamber" / "help");
  roots.push_back(std::filesystem::path(TAMBER_HELP_SOURCE));
  for (const auto& root : roots) {
    for (const std::string& lang : {language, std::string("en")}) {
      if (!lang.empty() && std::filesystem::exists(root / lang / "index.html", ec)) return root / lang;
    }
  }
  return std::filesystem::path(TAMBER_HELP_SOURCE) / "en";
}

QTextBrowser* showHelp(QWidget* parent, const app::App& app, const QString& page) {
  static QPointer<QMainWindow> window;
  if (!window) {
    window = new QMainWindow(parent ? parent->window() : nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName("helpWindow");
    window->resize(760, 620);
    auto* browser = new QTextBrowser;
    browser->setOpenExternalLinks(true);
    window->setCentralWidget(browser);
    QToolBar* bar = window->addToolBar("help");
    bar->setMovable(false);
    QStyle* style = QApplication::style();
    QAction* back = bar->addAction(style->standardIcon(QStyle::SP_ArrowBack), QString(), browser, &QTextBrowser::backward);
    back->setObjectName("back");
    QAction* forward =
        bar->addAction(style->standardIcon(QStyle::SP_ArrowForward), QString(), browser, &QTextBrowser::forward);
    forward->setObjectName("forward");
    bar->addAction(style->standardIcon(QStyle::SP_DirHomeIcon), QString(), browser, &QTextBrowser::home)
        ->setObjectName("contents");
    back->setEnabled(false);
    forward->setEnabled(false);
    QObject::connect(browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QObject::connect(browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    // Escape closes it, as it closes a dialog.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
    QObject::connect(browser, &QTextBrowser::sourceChanged, window,
                     [browser] { browser->window()->setWindowTitle(browser->documentTitle()); });
  }
  auto* browser = static_cast<QTextBrowser*>(window->centralWidget());
  // The bar speaks the language of the pages it shows, which may have
  // changed since the window was made.
  for (auto [name, id] : {std::pair{"back", kBack}, {"forward", kForward}, {"contents", kHelpContents}}) {
    if (auto* action = window->findChild<QAction*>(name)) action->setText(text(app, id).remove('&'));
  }
  QString dir = QString::fromStdString(helpDirectory(app.language().code()).string());
  browser->setSearchPaths({dir});
  browser->setSource(QUrl::fromLocalFile(dir + "/" + page));
  window->show();
  window->raise();
  window->activateWindow();
  return browser;
}

}  // namespace tamber::gui
