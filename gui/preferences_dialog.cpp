#include "gui/preferences_dialog.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "app/add_folder.h"
#include "app/disc_database.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"
#include "platform/run_program.h"

namespace tamber::gui {

namespace {

constexpr const char* kWatchUnit = "tamber-watch.service";

// systemctl --user with `args`: its exit status (-1 when it could not be
// run or took more than 30 s) and what it said. Spawned directly rather
// than through QProcess, whose fork a thread checker cannot follow.
std::pair<int, QString> userSystemctl(const QStringList& args) {
  std::vector<std::string> words{"systemctl", "--user"};
  for (const auto& a : args) words.push_back(a.toStdString());
  platform::ProgramLimits limits;
  limits.errorsToo = true;
  platform::ProgramRun run = platform::runProgram(words, limits);
  switch (run.end) {
    case platform::ProgramRun::End::notStarted: return {-1, QString::fromLocal8Bit(run.why)};
    case platform::ProgramRun::End::exited: return {run.status, QString::fromLocal8Bit(run.output).trimmed()};
    default: return {-1, "systemctl --user " + args.join(' ')};
  }
}

}  // namespace

PreferencesDialog::PreferencesDialog(app::App& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(text(app, kPreferences).remove('&').remove(QChar(0x2026)));
  auto* form = new QFormLayout;
  library_ = new QLineEdit(qs(app.settings().getText("App-Preference", "DefaultLib")));
  auto* browse = new QPushButton(text(app, kBrowse));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, QString(), library_->text(), text(app_, kLibraryFiles));
    if (!f.isEmpty()) library_->setText(f);
  });
  auto* row = new QHBoxLayout;
  row->addWidget(library_, 1);
  row->addWidget(browse);
  form->addRow(text(app, kDefaultLib), row);
  depth_ = new QSpinBox;
  depth_->setRange(0, 255);
  depth_->setValue(app.settings().getInt("App-Preference", "DefaultDepth", 0));
  form->addRow(text(app, kDefaultDepth), depth_);
  language_ = new QComboBox;
  language_->addItem("English", "en");
  language_->addItem(QString::fromUtf8("Français"), "fr");
  language_->addItem("Italiano", "it");
  language_->setCurrentIndex(std::max(0, language_->findData(qs(app.language().code()))));
  form->addRow(text(app, kLanguageMenu).remove('&'), language_);
  // The report stylesheet used instead of the default one ("DefaultXSLFile").
  stylesheet_ = new QLineEdit(qs(app.settings().getText("App-Preference", "DefaultXSLFile")));
  stylesheet_->setPlaceholderText(text(app, kDefaultStylesheet));
  auto* chooseStylesheet = new QPushButton(text(app, kBrowse));
  connect(chooseStylesheet, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, QString(), stylesheet_->text(), "XSLT (*.xsl *.xslt);;*");
    if (!f.isEmpty()) stylesheet_->setText(f);
  });
  auto* styleRow = new QHBoxLayout;
  styleRow->addWidget(stylesheet_, 1);
  styleRow->addWidget(chooseStylesheet);
  form->addRow(text(app, kStylesheet), styleRow);
  form->addRow(discDatabaseGroup());
  form->addRow(userReadersGroup());
  // Checked when the user's service manager has the watch enabled. The
  // question goes out beside the window, which a slow or absent session
  // bus must not hold up, nor its closing: the asking thread shares only
  // the answer, which the dialog looks for while it is open.
  watch_ = new QCheckBox(text(app, kWatchVolumes));
  watch_->setEnabled(false);
  form->addRow(watch_);
  auto answer = std::make_shared<std::atomic<int>>(-1);  // -1 not yet, 0 disabled, 1 enabled
  std::thread([answer] {
    answer->store(userSystemctl({"is-enabled", "--quiet", kWatchUnit}).first == 0 ? 1 : 0);
  }).detach();
  auto* waiting = new QTimer(this);
  waiting->setInterval(25);
  connect(waiting, &QTimer::timeout, this, [this, answer, waiting] {
    if (answer->load() < 0) return;
    waiting->stop();
    watching_ = answer->load() == 1;
    watchKnown_ = true;
    watch_->setChecked(watching_);
    watch_->setEnabled(true);
  });
  waiting->start();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "preferences.html"); });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    // An address the disc database would refuse is mended here, not found
    // out at the next lookup.
    for (auto [edit, st] : {std::pair{email_, app::checkGreetingAddress(ss(email_->text().trimmed()))},
                            std::pair{proxy_, app::checkProxyAddress(ss(proxy_->text().trimmed()))}}) {
      if (!st) {
        QMessageBox::warning(this, windowTitle(),
                             text(app_, edit == email_ ? kNotAnAddress : kNotAProxy, {edit->text().trimmed()}));
        edit->setFocus();
        edit->selectAll();
        return;
      }
    }
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  setLayout(form);
  // Wide enough for a path and the placeholders in every language.
  setMinimumWidth(640);
}

// The greeting the disc database gets and the proxy it is reached through
// (section "FreeDBSelected"). Left empty, the greeting carries the log-on
// and machine names: the box says which, so nothing is sent unseen.
QGroupBox* PreferencesDialog::discDatabaseGroup() {
  const std::string section = app::kCddbSection;
  auto& settings = app_.settings();
  auto* group = new QGroupBox(text(app_, kDiscDatabase));
  auto* form = new QFormLayout(group);
  email_ = new QLineEdit(qs(settings.getText(section, "hello_email")));
  disc::CddbClient client;
  email_->setPlaceholderText(text(app_, kSentWhenEmpty, {qs(client.userName() + "@" + client.hostName())}));
  form->addRow(text(app_, kGreetingAddress), email_);
  std::string proxy = settings.getText(section, "proxy_host");
  int port = settings.getInt(section, "proxy_port", 80);
  if (!proxy.empty() && proxy.find(':') == std::string::npos && port != 80) proxy += ":" + std::to_string(port);
  proxy_ = new QLineEdit(qs(proxy));
  proxy_->setPlaceholderText("HOST:PORT");
  form->addRow(text(app_, kProxy), proxy_);
  proxyUser_ = new QLineEdit(qs(settings.getText(section, "proxy_user")));
  form->addRow(text(app_, kProxyUser), proxyUser_);
  proxyPassword_ = new QLineEdit(qs(settings.getText(section, "proxy_password")));
  proxyPassword_->setEchoMode(QLineEdit::Password);
  form->addRow(text(app_, kProxyPassword), proxyPassword_);
  return group;
}

// Programs run for files whose names match during a scan (where documents
// are read); their output becomes the file's description.
QGroupBox* PreferencesDialog::userReadersGroup() {
  auto& settings = app_.settings();
  auto* group = new QGroupBox(text(app_, kUserReaders));
  auto* grid = new QGridLayout(group);
  int column = 0;
  for (int t : {kUserReaderFiles, kUserReaderCommand, kUserReaderSeconds, kUserReaderBytes}) {
    grid->addWidget(new QLabel(text(app_, t)), 0, column++);
  }
  for (int n = 1; n <= app::kUserReaderCount; ++n) {
    std::string section = "UserReader" + std::to_string(n);
    ReaderRow row{new QLineEdit(qs(settings.getText(section, "Pattern"))),
                  new QLineEdit(qs(settings.getText(section, "Command"))), new QSpinBox, new QSpinBox};
    row.pattern->setPlaceholderText("*.nfo");
    row.command->setPlaceholderText("head -c 2000 {}");
    row.seconds->setRange(1, 600);
    row.seconds->setValue(settings.getInt(section, "TimeLimitSeconds", 5));
    row.bytes->setRange(16, 65536);
    row.bytes->setValue(settings.getInt(section, "OutputLimitBytes", 4096));
    grid->addWidget(row.pattern, n, 0);
    grid->addWidget(row.command, n, 1);
    grid->addWidget(row.seconds, n, 2);
    grid->addWidget(row.bytes, n, 3);
    readers_.push_back(row);
  }
  grid->setColumnStretch(1, 1);
  return group;
}

QString PreferencesDialog::language() const { return language_->currentData().toString(); }

void PreferencesDialog::store() {
  app_.settings().putText("App-Preference", "DefaultLib", ss(library_->text().trimmed()));
  app_.settings().putInt("App-Preference", "DefaultDepth", depth_->value());
  app_.settings().putText("App-Preference", "DefaultXSLFile", ss(stylesheet_->text().trimmed()));
  const std::string section = app::kCddbSection;
  app_.settings().putText(section, "hello_email", ss(email_->text().trimmed()));
  std::string proxy = ss(proxy_->text().trimmed());
  app_.settings().putText(section, "proxy_host", proxy);
  // The port shown with the host is the one used: a port taken away goes
  // back to 80 rather than to one stored before.
  if (auto p = disc::parseServer(proxy); p && !proxy.empty()) app_.settings().putInt(section, "proxy_port", p->port);
  app_.settings().putText(section, "proxy_user", ss(proxyUser_->text()));
  app_.settings().putText(section, "proxy_password", ss(proxyPassword_->text()));
  for (size_t i = 0; i < readers_.size(); ++i) {
    std::string reader = "UserReader" + std::to_string(i + 1);
    // Rows never filled in leave no section behind.
    if (readers_[i].pattern->text().trimmed().isEmpty() && readers_[i].command->text().trimmed().isEmpty() &&
        app_.settings().getText(reader, "Pattern").empty() && app_.settings().getText(reader, "Command").empty()) {
      continue;
    }
    app_.settings().putText(reader, "Pattern", ss(readers_[i].pattern->text().trimmed()));
    app_.settings().putText(reader, "Command", ss(readers_[i].command->text().trimmed()));
    app_.settings().putInt(reader, "TimeLimitSeconds", readers_[i].seconds->value());
    app_.settings().putInt(reader, "OutputLimitBytes", readers_[i].bytes->value());
  }
  if (watchKnown_ && watch_->isChecked() != watching_) {
    // Enabled and started now, and at each log-in after; or stopped for good.
    auto [status, said] =
        userSystemctl({watch_->isChecked() ? "enable" : "disable", "--now", kWatchUnit});
    if (status == 0) {
      watching_ = watch_->isChecked();
    } else {
      QMessageBox::warning(this, windowTitle(), text(app_, kWatchNotSwitched, {said}));
    }
  }
}

}  // namespace tamber::gui
