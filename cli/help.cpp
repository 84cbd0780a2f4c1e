#include "help.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>

#include "app/language.h"
#include "platform/xml.h"

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

using HelpTexts = std::map<std::string, std::string, std::less<>>;

// <help lang="fr"><t><en>English</en><tr>Français</tr></t>...</help>; our
// own file: nothing in it is expanded.
HelpTexts loadHelpTexts(const std::filesystem::path& path) {
  HelpTexts out;
  xml::Doc doc(xmlReadFile(path.c_str(), "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc || !xmlDocGetRootElement(doc.get())) return out;
  for (xmlNode* t = xmlDocGetRootElement(doc.get())->children; t; t = t->next) {
    if (t->type != XML_ELEMENT_NODE || xmlStrcmp(t->name, xml::u("t")) != 0) continue;
    std::string english, translated;
    for (xmlNode* n = t->children; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      if (xmlStrcmp(n->name, xml::u("en")) == 0) english = xml::content(n);
      if (xmlStrcmp(n->name, xml::u("tr")) == 0) translated = xml::content(n);
    }
    if (!english.empty() && !translated.empty()) out[english] = translated;
  }
  return out;
}

std::string translated(const HelpTexts& texts, const std::string& english) {
  auto it = texts.find(english);
  return it == texts.end() ? english : it->second;
}

// Paragraph by paragraph: a command's own words, then those every command shares.
std::string translatedParagraphs(const HelpTexts& texts, const std::string& english) {
  std::string out;
  for (size_t from = 0; from <= english.size();) {
    size_t end = english.find("\n\n", from);
    if (end == std::string::npos) end = english.size();
    if (!out.empty()) out += "\n\n";
    out += translated(texts, english.substr(from, end - from));
    from = end + 2;
  }
  return out;
}

// The kinds of values and the words around them in an option's line
// ("TEXT", "INT in [0 - 99]", "REQUIRED") from the labels; the values a
// choice offers ("{auto,always,never}") are what the user types and stay.
class SpokenFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* opt) const override {
    std::string in = CLI::Formatter::make_option_opts(opt), out;
    for (size_t i = 0; i < in.size();) {
      if (!std::isalpha(static_cast<unsigned char>(in[i]))) {
        out += in[i++];
        continue;
      }
      size_t j = i;
      while (j < in.size() && std::isalpha(static_cast<unsigned char>(in[j]))) ++j;
      std::string word = in.substr(i, j - i);
      bool layout = std::isupper(static_cast<unsigned char>(word[0])) || word == "in";
      out += layout ? get_label(word) : word;
      i = j;
    }
    return out;
  }
};

void speakHelpOf(CLI::App& app, const HelpTexts& texts, const std::shared_ptr<CLI::Formatter>& formatter) {
  app.formatter(formatter);
  app.description(translated(texts, app.get_description()));
  if (!app.get_footer().empty()) app.footer(translatedParagraphs(texts, app.get_footer()));
  for (CLI::Option* o : app.get_options([](CLI::Option*) { return true; })) {
    o->description(translated(texts, o->get_description()));
    if (!o->get_group().empty()) o->group(translated(texts, o->get_group()));
  }
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    speakHelpOf(*sub, texts, formatter);
    if (!sub->get_group().empty()) sub->group(translated(texts, sub->get_group()));
  }
}

// The help file of a language, read once.
const HelpTexts& helpTexts(const std::string& code) {
  static std::map<std::string, HelpTexts> loaded;
  auto it = loaded.find(code);
  if (it == loaded.end()) {
    HelpTexts texts;
    if (code != "en") texts = loadHelpTexts(app::resourceDirectory() / ("help_" + code + ".xml"));
    it = loaded.emplace(code, std::move(texts)).first;
  }
  return it->second;
}

}  // namespace

std::string helpWords(const std::string& english) { return translated(helpTexts(languageCode()), english); }

void speakHelp(CLI::App& app, const std::string& code) {
  const HelpTexts& texts = helpTexts(code);
  if (texts.empty()) return;
  // The layout's own words are one word each ("Usage", "OPTIONS", "TEXT").
  auto formatter = std::make_shared<SpokenFormatter>();
  for (const auto& [english, words] : texts) {
    if (english.find_first_of(" \n") == std::string::npos) formatter->label(english, words);
  }
  speakHelpOf(app, texts, formatter);
}

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
