// The bundled help: HTML pages in the user's language (English where a
// page is not translated), shown in a window of their own.
#pragma once

#include <QString>
#include <filesystem>

class QWidget;
class QTextBrowser;

namespace tamber::app {
class App;
}

namespace tamber::gui {

// The folder of the help pages for `language`: installed beside the
// program (../share/tamber/help/LANG), else the source tree's; English
// when the language has none.
std::filesystem::path helpDirectory(const std::string& language);

// Shows `page` ("report.html") in the help window, in the user's language,
// made on first use and raised after. Returns the window's browser.
QTextBrowser* showHelp(QWidget* parent, const app::App& app, const QString& page = "index.html");

}  // namespace tamber::gui
