// Shell completions and the manual page, written from the command
// definitions themselves (at build time), so they never drift from them.

#include "generate.h"

#include <sstream>

#include "help.h"

namespace tamber::cli {

namespace {

struct Opt {
  std::vector<std::string> names;  // "--long", "-l"
  std::string description;
  bool value = false;
  std::vector<std::string> choices;
};

struct Cmd {
  std::string name, description;
  std::vector<Opt> options;
  std::vector<std::string> positionals;
  std::vector<Cmd> subs;
};

// CLI11 names the choices of a checked option in its type: "TEXT:{a,b}".
std::vector<std::string> choicesOf(const CLI::Option* o) {
  std::vector<std::string> out;
  std::string type = o->get_type_name();
  auto open = type.find('{'), close = type.find('}');
  if (open == std::string::npos || close == std::string::npos || close < open) return out;
  std::stringstream list(type.substr(open + 1, close - open - 1));
  std::string item;
  while (std::getline(list, item, ',')) out.push_back(item);
  return out;
}

Cmd describe(const CLI::App& app) {
  Cmd c;
  c.name = app.get_name();
  c.description = app.get_description();
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional()) {
      c.positionals.push_back(o->get_name());
      continue;
    }
    Opt opt;
    for (const auto& l : o->get_lnames()) opt.names.push_back("--" + l);
    for (const auto& s : o->get_snames()) opt.names.push_back("-" + s);
    if (opt.names.empty()) continue;
    opt.description = o->get_description();
    opt.value = o->get_items_expected_max() > 0;
    opt.choices = choicesOf(o);
    if (o->check_lname("kinds")) opt.choices = {"names", "tracks", "pictures", "tags", "documents", "videos"};
    c.options.push_back(std::move(opt));
  }
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->get_name().rfind("__", 0) == 0) continue;  // the completions' own helper
    c.subs.push_back(describe(*sub));
  }
  return c;
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char ch : s) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

std::string join(const std::vector<std::string>& items, const char* sep = " ") {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : sep) + i;
  return out;
}

std::vector<std::string> names(const std::vector<Cmd>& cmds) {
  std::vector<std::string> out;
  for (const auto& c : cmds) out.push_back(c.name);
  return out;
}

std::vector<std::string> optionWords(const std::vector<Opt>& options) {
  std::vector<std::string> out;
  for (const auto& o : options) out.insert(out.end(), o.names.begin(), o.names.end());
  return out;
}

// Options whose value is a word of a fixed set, "--sort) words=...".
std::string bashChoiceCases(const Cmd& c) {
  std::string out;
  for (const auto& o : c.options) {
    if (o.choices.empty()) continue;
    out += "        " + join(o.names, "|") + ") COMPREPLY=($(compgen -W " +
           shellQuote(join(o.choices)) + " -- \"$cur\")); return ;;\n";
  }
  return out;
}

// Commands whose words are paths of the library (completed from it).
bool takesLibraryPaths(const std::string& command) {
  for (const char* c : {"ls", "du", "tree", "show", "rm", "mv", "rename", "set", "cover", "thumb", "archive",
                        "export-csv", "export-xml", "export", "report", "mkcat", "add-folder", "add-disc", "verify",
                        "diff", "dupes"}) {
    if (command == c) return true;
  }
  return false;
}

std::string bash(const Cmd& top) {
  std::ostringstream s;
  s << "# bash completion for tamber; generated from its command definitions.\n"
    << "# Paths of the library, and setting names, come from the program itself.\n"
    << "_tamber_ask() {\n"
    << "  local IFS=$'\\n'\n"
    << "  COMPREPLY=($(tamber \"${lib[@]}\" __complete \"$@\" 2>/dev/null))\n"
    << "  [[ ${COMPREPLY[*]} == */ || ${#COMPREPLY[@]} -gt 1 ]] && compopt -o nospace 2>/dev/null\n"
    << "}\n"
    << "_tamber() {\n"
    << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
    << "  local i w cmd= sub= args=0\n"
    << "  local -a lib=()\n"
    << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
    << "    w=${COMP_WORDS[i]}\n"
    << "    case $w in\n"
    << "      -L|--library|--config) lib+=(\"$w\" \"${COMP_WORDS[i+1]}\"); ((i++)); continue ;;\n"
    << "      -*) continue ;;\n"
    << "    esac\n"
    << "    if [[ -z $cmd ]]; then cmd=$w; elif [[ -z $sub ]]; then sub=$w; else ((args++)); fi\n"
    << "  done\n"
    << "  case $prev in\n"
    << "    -L|--library|--config|-o|--output|--thumbnail) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
    << "    --scope) _tamber_ask path \"$cur\"; return ;;\n"
    << "  esac\n"
    << "  local globals=" << shellQuote(join(optionWords(top.options))) << "\n"
    << "  case $cmd in\n"
    << "    '') COMPREPLY=($(compgen -W \"" << join(names(top.subs)) << " $globals\" -- \"$cur\")); return ;;\n";
  for (const auto& c : top.subs) {
    s << "    " << c.name << ")\n";
    if (!c.subs.empty()) {
      s << "      case $sub in\n"
        << "        '') COMPREPLY=($(compgen -W " << shellQuote(join(names(c.subs)))
        << " -- \"$cur\")); return ;;\n";
      for (const auto& sc : c.subs) {
        s << "        " << sc.name << ") COMPREPLY=($(compgen -W " << shellQuote(join(optionWords(sc.options)))
          << " -- \"$cur\"))\n";
        if (c.name == "config" && (sc.name == "get" || sc.name == "set")) {
          // SECTION, then KEY: the settings the program knows and those stored.
          s << "          [[ $cur == -* ]] || { if ((args == 0)); then _tamber_ask section; else _tamber_ask key \"$prev\"; fi;"
            << " COMPREPLY=($(compgen -W \"${COMPREPLY[*]}\" -- \"$cur\")); }; return ;;\n";
        } else {
          s << "          [[ $cur == -* ]] || COMPREPLY+=($(compgen -f -- \"$cur\")); return ;;\n";
        }
      }
      s << "      esac ;;\n";
      continue;
    }
    s << "      case $prev in\n" << bashChoiceCases(c) << "      esac\n"
      << "      if [[ $cur == -* ]]; then\n"
      << "        COMPREPLY=($(compgen -W \"" << join(optionWords(c.options)) << " $globals\" -- \"$cur\"))\n"
      << "      else\n";
    if (takesLibraryPaths(c.name)) {
      // The library's paths; a file of the disk where none matches.
      s << "        _tamber_ask path \"$cur\"\n"
        << "        ((${#COMPREPLY[@]})) || COMPREPLY=($(compgen -f -- \"$cur\"))\n";
    } else {
      s << "        COMPREPLY=($(compgen -f -- \"$cur\"))\n";
    }
    s << "      fi ;;\n";
  }
  s << "  esac\n"
    << "}\n"
    << "complete -o filenames -F _tamber tamber\n";
  return s.str();
}

std::string zshEscape(std::string text) {
  std::string out;
  for (char ch : text) {
    if (ch == '[' || ch == ']' || ch == ':' || ch == '\\') out += '\\';
    if (ch == '\'') {
      out += "'\\''";
      continue;
    }
    out += ch;
  }
  return out;
}

std::string zshSpecs(const std::vector<Opt>& options) {
  std::string out;
  for (const auto& o : options) {
    std::string action = o.choices.empty() ? ":value:_files" : ":value:(" + join(o.choices) + ")";
    for (const auto& n : o.names) {
      out += " \\\n      '" + n + "[" + zshEscape(o.description) + "]" + (o.value ? action : "") + "'";
    }
  }
  return out;
}

std::string zsh(const Cmd& top) {
  std::ostringstream s;
  s << "#compdef tamber\n# zsh completion for tamber; generated from its command definitions.\n\n"
    << "# The library's paths come from the program itself; files where none matches.\n"
    << "_tamber_paths() {\n"
    << "  local -a found\n"
    << "  found=(${(f)\"$(tamber __complete path \"$PREFIX\" 2>/dev/null)\"})\n"
    << "  if (( ${#found} )); then compadd -S '' -- $found; else _files; fi\n"
    << "}\n\n"
    << "_tamber() {\n"
    << "  local -a commands\n"
    << "  commands=(\n";
  for (const auto& c : top.subs) s << "    '" << c.name << ":" << zshEscape(c.description) << "'\n";
  s << "  )\n"
    << "  local -a globals\n"
    << "  globals=(" << zshSpecs(top.options) << "\n  )\n"
    << "  local i cmd=\n"
    << "  for ((i = 2; i < CURRENT; i++)); do\n"
    << "    case ${words[i]} in\n"
    << "      -L|--library|--config) ((i++)) ;;\n"
    << "      -*) ;;\n"
    << "      *) cmd=${words[i]}; break ;;\n"
    << "    esac\n"
    << "  done\n"
    << "  if [[ -z $cmd ]]; then\n"
    << "    _arguments -s $globals '*::command:->cmd' && return\n"
    << "    _describe 'command' commands\n"
    << "    return\n"
    << "  fi\n"
    << "  case $cmd in\n";
  for (const auto& c : top.subs) {
    s << "    " << c.name << ")\n";
    if (!c.subs.empty()) {
      s << "      local -a subs\n      subs=(";
      for (const auto& sc : c.subs) s << " '" << sc.name << ":" << zshEscape(sc.description) << "'";
      s << " )\n      _describe 'command' subs ;;\n";
      continue;
    }
    s << "      _arguments -s $globals" << zshSpecs(c.options) << " \\\n      '*:file:"
      << (takesLibraryPaths(c.name) ? "_tamber_paths" : "_files") << "' ;;\n";
  }
  s << "  esac\n}\n\n_tamber \"$@\"\n";
  return s.str();
}

std::string fishQuote(const std::string& s) { return shellQuote(s); }

std::string fish(const Cmd& top) {
  std::ostringstream s;
  s << "# fish completion for tamber; generated from its command definitions.\n"
    << "complete -c tamber -f\n";
  auto option = [&](const Opt& o, const std::string& condition) {
    s << "complete -c tamber";
    if (!condition.empty()) s << " -n " << fishQuote(condition);
    for (const auto& n : o.names) {
      s << (n.rfind("--", 0) == 0 ? " -l " + n.substr(2) : " -s " + n.substr(1));
    }
    if (o.value) s << (o.choices.empty() ? " -r -F" : " -x -a " + fishQuote(join(o.choices)));
    s << " -d " << fishQuote(o.description) << "\n";
  };
  for (const auto& o : top.options) option(o, "");
  std::string all = join(names(top.subs));
  for (const auto& c : top.subs) {
    s << "complete -c tamber -n " << fishQuote("not __fish_seen_subcommand_from " + all) << " -a "
      << c.name << " -d " << fishQuote(c.description) << "\n";
    std::string seen = "__fish_seen_subcommand_from " + c.name;
    if (!c.subs.empty()) {
      for (const auto& sc : c.subs) {
        s << "complete -c tamber -n " << fishQuote(seen + "; and not __fish_seen_subcommand_from " +
                                                   join(names(c.subs)))
          << " -a " << sc.name << " -d " << fishQuote(sc.description) << "\n";
        for (const auto& o : sc.options) option(o, seen + "; and __fish_seen_subcommand_from " + sc.name);
      }
      continue;
    }
    for (const auto& o : c.options) option(o, seen);
    if (takesLibraryPaths(c.name)) {
      s << "complete -c tamber -n " << fishQuote(seen) << " -a " << fishQuote("(tamber __complete path (commandline -ct) 2>/dev/null)") << "\n";
    }
    s << "complete -c tamber -n " << fishQuote(seen) << " -F\n";
  }
  return s.str();
}

// roff text: backslashes doubled, a leading dot or quote escaped, "-" as \-.
std::string roff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '\\') out += "\\e";
    else if (ch == '-') out += "\\-";
    else if (ch == '\n') out += "\n.br\n";
    else if ((ch == '.' || ch == '\'') && (i == 0 || text[i - 1] == '\n')) out += "\\&" + std::string(1, ch);
    else out += ch;
  }
  return out;
}

void manOptions(std::ostringstream& s, const std::vector<Opt>& options) {
  for (const auto& o : options) {
    if (o.names.size() == 1 && o.names[0] == "--help") continue;
    s << ".TP\n.B " << roff(join(o.names, ", "));
    if (o.value) s << " " << (o.choices.empty() ? "\\fIVALUE\\fR" : "\\fI" + join(o.choices, "|") + "\\fR");
    s << "\n" << roff(o.description) << "\n";
  }
}

std::string man(const Cmd& top) {
  std::ostringstream s;
  s << ".TH TAMBER 1 \"\" \"tamber 0.1.0\" \"User Commands\"\n"
    << ".SH NAME\ntamber \\- catalogue discs and folders into library files\n"
    << ".SH SYNOPSIS\n.B tamber\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n"
    << ".SH DESCRIPTION\n"
    << roff("tamber records the file trees of folders, data discs and removable media in a library "
            "file (*.cds), with what the files hold: audio properties and tags, picture sizes and "
            "thumbnails, document properties and archive contents. Later, with the media away, "
            "the library is browsed, searched and edited.")
    << "\n.PP\n"
    << roff("ITEM and PATH name an entry of the library: category names from the top, then the "
            "label of a disc or folder, then folders inside it, joined by \"/\" "
            "(\"Music/My disc/Albums/2003\"). A step \"#N\" names an entry by its number.")
    << "\n.SH GLOBAL OPTIONS\n"
    << roff("Accepted before or after the command.") << "\n";
  manOptions(s, top.options);
  s << ".SH COMMANDS\n";
  for (const auto& c : top.subs) {
    auto sub = [&](const Cmd& cmd, const std::string& prefix) {
      s << ".SS \"" << roff(prefix + cmd.name);
      for (const auto& p : cmd.positionals) s << " " << p;
      s << "\"\n" << roff(cmd.description) << "\n";
      manOptions(s, cmd.options);
    };
    if (c.subs.empty()) {
      sub(c, "tamber ");
    } else {
      for (const auto& sc : c.subs) sub(sc, "tamber " + c.name + " ");
    }
  }
  s << ".SH EXIT STATUS\n"
    << ".TP\n.B 0\nSuccess.\n"
    << ".TP\n.B 1\n" << roff("Failure: the message on standard error says why; nothing was changed.") << "\n"
    << ".TP\n.B 2\n" << roff("Usage error: an unknown command or option, a missing or bad argument.") << "\n"
    << ".TP\n.B 130, 143\n" << roff("A job cancelled by Ctrl-C (SIGINT) or SIGTERM; the library is as it was.") << "\n"
    << ".SH FILES\n"
    << ".TP\n.I $XDG_DATA_HOME/tamber/library.cds\n" << roff("The default library.") << "\n"
    << ".TP\n.I $XDG_CONFIG_HOME/tamber/tamber.cfg\n" << roff("The settings.") << "\n"
    << ".SH EXAMPLES\n"
    << ".nf\n"
    << roff("tamber add-folder /media/usb --label \"Photos 2019\" --category Pictures") << "\n"
    << roff("tamber ls -l \"Pictures/Photos 2019/DCIM\"") << "\n"
    << roff("tamber du -h Pictures") << "\n"
    << roff("tamber --json show \"Pictures/Photos 2019\" | jq .files") << "\n"
    << ".fi\n";
  return s.str();
}

}  // namespace

bool generate(const CLI::App& app, const std::string& what, std::ostream& out) {
  Cmd top = describe(app);
  if (what == "bash") out << bash(top);
  else if (what == "zsh") out << zsh(top);
  else if (what == "fish") out << fish(top);
  else if (what == "man") out << man(top);
  else return false;
  return true;
}

}  // namespace tamber::cli
