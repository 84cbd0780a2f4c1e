#include "help.h"

#include <algorithm>
#include <iostream>

#include "commands.h"
#include "common.h"

namespace tamber::cli {

namespace {

// Edits from one word to the other: a letter put in, taken out or changed,
// or two neighbours swapped ("gte" is one from "get").
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::vector<std::string> commandNames(const CLI::App& app) {
  std::vector<std::string> out;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (!sub->get_group().empty()) out.push_back(sub->get_name());
  }
  return out;
}

CLI::App* findCommand(CLI::App& app, const std::string& name) {
  auto found = app.get_subcommands([&](CLI::App* sub) { return sub->check_name(name); });
  return found.empty() ? nullptr : found.front();
}

std::vector<std::string> optionNames(const CLI::App& app) {
  std::vector<std::string> out;
  for (const CLI::App* a = &app; a; a = a->get_parent()) {
    for (const CLI::Option* o : a->get_options()) {
      for (const auto& l : o->get_lnames()) out.push_back("--" + l);
      for (const auto& s : o->get_snames()) out.push_back("-" + s);
    }
  }
  return out;
}

std::string commandPath(const CLI::App& app) {
  std::string out;
  for (const CLI::App* a = &app; a && a->get_parent(); a = a->get_parent()) {
    out = a->get_name() + (out.empty() ? "" : " " + out);
  }
  return out;
}

std::string nearest(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = std::max<size_t>(1, word.size() / 3) + 1;
  for (const auto& c : candidates) {
    size_t d = editDistance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

void registerHelpCommand(CLI::App& cli, int& status) {
  auto words = std::make_shared<std::vector<std::string>>();
  auto* help = cli.add_subcommand("help", "Show the help of the program or of a command");
  help->add_option("COMMAND", *words, "A command (\"config get\" for a command below another)");
  help->callback([&cli, &status, words] {
    CLI::App* at = &cli;
    for (const auto& w : *words) {
      CLI::App* sub = findCommand(*at, w);
      if (!sub) {
        std::string near = nearest(w, commandNames(*at));
        std::cerr << errorPrefix() << unknownName(app::kTextUnknownCommand, w, near) << "\n";
        status = kExitUsage;
        return;
      }
      at = sub;
    }
    // The program's own help lists the commands (help() of the program
    // would show the help of the command being run: this one).
    std::cout << (at == &cli ? cli.get_formatter()->make_help(&cli, cli.get_name(), CLI::AppFormatMode::Normal) : at->help());
    status = kExitOk;
  });
}

}  // namespace tamber::cli
