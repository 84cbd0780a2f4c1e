#include "app/html_export.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "app/app.h"
#include "app/language.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "platform/hex_time.h"
#include "platform/json.h"
#include "scan/listing_reader.h"

namespace tamber::app {

namespace fs = std::filesystem;
using catalog::CatalogDocument;

namespace {

// The page: everything it shows is put in with textContent, never parsed as
// HTML, so that no name can bring markup or script into it. Data files are
// scripts (a browser reads no other file from file://), each calling T.*.
constexpr const char* kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'self' 'unsafe-inline'; style-src 'unsafe-inline'; img-src 'self'">
<title>Catalogue</title>
<style>
body{margin:0;font:14px/1.4 system-ui,sans-serif;color:#222;display:flex;flex-direction:column;height:100vh}
header{display:flex;gap:1em;align-items:center;padding:.5em 1em;background:#2d4a6b;color:#fff}
header h1{font-size:1.1em;margin:0;flex:1}
header input{width:22em;padding:.3em .5em;font-size:1em}
main{flex:1;display:flex;min-height:0}
nav{width:28%;overflow:auto;border-right:1px solid #ccc;padding:.5em}
section{flex:1;overflow:auto;padding:.5em 1em}
ul{list-style:none;margin:0;padding-left:1.1em}
nav>ul{padding-left:0}
.cat{font-weight:600}
.item,.dir{cursor:pointer;color:#1a4f8a}
.item.on{background:#dde8f5}
table{border-collapse:collapse;width:100%}
td{padding:.15em .5em;vertical-align:middle;border-bottom:1px solid #eee}
td.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
img{max-width:64px;max-height:64px;display:block}
#status{color:#666;margin:.3em 0}
</style>
</head>
<body>
<header><h1 id="title"></h1><input id="q" type="search" placeholder="Search names" aria-label="Search names"></header>
<main><nav><ul id="tree"></ul></nav><section><div id="status"></div><table><tbody id="rows"></tbody></table></section></main>
<script>
"use strict";
const T = {items: {}, waiting: {}, meta: null, loaded: 0};
const $ = id => document.getElementById(id);
function el(tag, text, cls) { const e = document.createElement(tag); if (text !== undefined) e.textContent = text; if (cls) e.className = cls; return e; }
function size(n) { const u = ["B", "KB", "MB", "GB", "TB"]; let i = 0; while (n >= 1024 && i < 4) { n /= 1024; i++; } return (i ? n.toFixed(1) : n) + " " + u[i]; }
// The words of the page in the catalogue's language, "%s" where a value goes.
const english = ["Search names", "Loading the names\u2026", "%s found in %s ms", "the first %s shown", "%s files", "Cannot read %s"];
function say(k, ...values) { let i = 0; return ((T.meta && T.meta.w[k]) || english[k]).replace(/%s/g, () => String(values[i++])); }
function load(src) { return new Promise((ok, bad) => { const s = document.createElement("script"); s.src = src; s.onload = ok; s.onerror = () => bad(new Error(src)); document.head.appendChild(s); }); }
T.tree = meta => { T.meta = meta; };
T.item = (id, data) => {
  // Children of each folder, and each entry's path, worked out once.
  const n = data.n.length, kids = new Array(n + 1);
  for (let i = 0; i <= n; i++) kids[i] = [];
  for (let i = 0; i < n; i++) kids[data.p[i] + 1].push(i);
  data.kids = kids;
  T.items[id] = data;
};
function item(id) {
  if (T.items[id]) return Promise.resolve(T.items[id]);
  if (!T.waiting[id]) T.waiting[id] = load("data/i" + id + ".js").then(() => T.items[id]);
  return T.waiting[id];
}
function pathOf(d, i) { const parts = []; for (; i >= 0; i = d.p[i]) parts.push(d.n[i]); return parts.reverse().join("/"); }
function row(d, id, i, depth, label) {
  const tr = el("tr"), name = el("td");
  name.style.paddingLeft = (0.5 + depth * 1.2) + "em";
  const folder = d.d[i] === "1";
  const span = el("span", label || d.n[i], folder ? "dir" : "");
  name.appendChild(span);
  const pic = el("td");
  if (d.y[i]) { const img = el("img"); img.loading = "lazy"; img.alt = ""; img.src = "thumbs/" + id + "/" + d.y[i]; pic.appendChild(img); }
  tr.append(pic, name, el("td", folder ? "" : size(d.s[i]), "n"), el("td", d.t[i], "n"));
  if (folder) span.onclick = () => toggle(tr, d, id, i, depth);
  return tr;
}
function toggle(tr, d, id, i, depth) {
  if (tr.open) { for (const r of tr.open) r.remove(); tr.open = null; return; }
  const rows = []; let at = tr;
  for (const k of d.kids[i + 1]) { const r = row(d, id, k, depth + 1); at.after(r); at = r; rows.push(r); }
  tr.open = rows;
}
function show(id, node, li) {
  for (const o of document.querySelectorAll(".item.on")) o.classList.remove("on");
  li.classList.add("on");
  $("status").textContent = node.path + " \u2014 " + say(4, node.f) + ", " + size(node.s);
  $("rows").textContent = "";
  item(id).then(d => {
    for (const k of d.kids[0]) $("rows").appendChild(row(d, id, k, 0));
    document.body.dataset.openMs = Math.round(performance.now());
  })
    .catch(e => { $("status").textContent = say(5, e.message); });
}
function build(ul, node, path) {
  for (const c of node.c || []) {
    const li = el("li");
    const p = path ? path + "/" + c.n : c.n;
    if (c.id) {
      const span = el("span", c.n, "item");
      c.path = p;
      span.onclick = () => show(c.id, c, span);
      li.appendChild(span);
      T.byId[c.id] = c;
    } else {
      li.appendChild(el("span", c.n, "cat"));
      const sub = el("ul"); build(sub, c, p); li.appendChild(sub);
    }
    ul.appendChild(li);
  }
}
let searching = 0;
async function search(text) {
  const mine = ++searching, q = text.trim().toLowerCase(), called = performance.now();
  $("rows").textContent = "";
  if (!q) { $("status").textContent = ""; return; }
  const ids = Object.keys(T.byId);
  if (T.loaded < ids.length) {
    $("status").textContent = say(1);
    await Promise.all(ids.map(id => item(id).catch(() => null)));
    T.loaded = ids.length;
    if (mine !== searching) return;
  }
  for (const id of ids) {
    const d = T.items[id];
    if (d && !d.low) {
      // The names in one text, lower case, one a line, and where each
      // begins: a search is then one indexOf after another over it.
      d.low = d.n.join("\n").toLowerCase();
      d.starts = new Int32Array(d.n.length + 1);
      for (let i = 1, at = -1; i <= d.n.length; i++) { at = d.low.indexOf("\n", at + 1); d.starts[i] = at < 0 ? d.low.length + 1 : at + 1; }
    }
  }
  const started = performance.now(), limit = 1000;
  let hits = 0;
  for (const id of ids) {
    const d = T.items[id];
    if (!d) continue;
    const starts = d.starts;
    for (let at = d.low.indexOf(q); at >= 0;) {
      let lo = 0, hi = d.n.length - 1;
      while (lo < hi) { const mid = (lo + hi + 1) >> 1; if (starts[mid] <= at) lo = mid; else hi = mid - 1; }
      if (++hits <= limit) $("rows").appendChild(row(d, id, lo, 0, T.byId[id].path + "/" + pathOf(d, lo)));
      at = d.low.indexOf(q, starts[lo + 1]);
    }
  }
  $("status").textContent = say(2, hits, Math.round(performance.now() - started)) + (hits > limit ? " (" + say(3, limit) + ")" : "");
  // For the benchmark: the whole search, the names' loading included.
  document.body.dataset.searchMs = Math.round(performance.now() - called);
}
T.byId = {};
load("data/tree.js").then(() => {
  document.title = T.meta.title;
  document.documentElement.lang = T.meta.lang;
  $("q").placeholder = $("q").ariaLabel = say(0);
  $("title").textContent = T.meta.title;
  build($("tree"), T.meta.root, "");
  let timer = 0;
  $("q").oninput = e => { clearTimeout(timer); timer = setTimeout(() => search(e.target.value), 150); };
  // A link may name a search (#q=TEXT) or an item to open (#open=N).
  const hash = new URLSearchParams(location.hash.slice(1));
  if (hash.get("open") && T.byId[hash.get("open")]) {
    const id = hash.get("open"), span = [...document.querySelectorAll(".item")].find(s => s.textContent === T.byId[id].n);
    show(id, T.byId[id], span || $("tree"));
  }
  if (hash.get("q")) { $("q").value = hash.get("q"); search(hash.get("q")); }
  document.body.dataset.ready = "1";
  document.body.dataset.readyMs = Math.round(performance.now());
}).catch(e => { $("status").textContent = say(5, e.message); });
</script>
</body>
</html>
)PAGE";

Status writeFile(const fs::path& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Error{Errc::io, path.string() + ": " + std::strerror(errno)};
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = errno;
      ::close(fd);
      return Error{Errc::io, path.string() + ": " + std::strerror(e)};
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return Error{Errc::io, path.string() + ": " + std::strerror(errno)};
  return {};
}

// A folder made beside `dir` that goes away unless it is kept.
struct Staging {
  fs::path path;
  bool kept = false;
  ~Staging() {
    std::error_code ec;
    if (!path.empty() && !kept) fs::remove_all(path, ec);
  }
};

}  // namespace

void speakUsersLanguage(HtmlExportOptions& options, const App& app) {
  options.language = app.language().code();
  options.words.clear();
  for (int id : {kTextSiteSearch, kTextSiteLoading, kTextSiteHits, kTextSiteFirstShown, kTextSiteFiles,
                 kTextSiteCannotRead}) {
    options.words.push_back(app.text(id));
  }
}

Status checkHtmlTarget(const fs::path& dir, bool replace, bool& exists) {
  std::error_code ec;
  auto st = fs::symlink_status(dir, ec);
  exists = !ec && st.type() != fs::file_type::not_found;
  if (!exists) return {};
  if (st.type() != fs::file_type::directory) return Error{Errc::invalid_argument, dir.string() + ": not a folder"};
  if (fs::is_empty(dir, ec)) return {};
  if (!fs::exists(dir / kHtmlExportMark, ec)) {
    return Error{Errc::exists, dir.string() + ": the folder holds other files; the export goes into a new or empty folder"};
  }
  if (!replace) return Error{Errc::exists, dir.string() + ": holds an earlier export (--force replaces it)"};
  return {};
}

Result<HtmlExportStats> exportHtml(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                   const fs::path& given, const HtmlExportOptions& options,
                                   const std::function<bool(long long entries)>& progress) {
  // "site/" and "./site" are the folder "site", whose parent takes the
  // new folder beside it.
  fs::path dir = fs::absolute(given).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  if (!dir.has_filename() || dir == dir.root_path()) {
    return Error{Errc::invalid_argument, given.string() + ": not a folder the export can take"};
  }
  bool exists = false;
  if (Status st = checkHtmlTarget(dir, options.replace, exists); !st) return st.error();
  fs::path parent = dir.parent_path();
  std::string pattern = (parent / ("." + dir.filename().string() + ".partial-XXXXXX")).string();
  Staging staging;
  if (!::mkdtemp(pattern.data())) return Error{Errc::io, parent.string() + ": " + std::strerror(errno)};
  staging.path = pattern;
  ::chmod(pattern.c_str(), 0755);
  std::error_code ec;
  fs::create_directory(staging.path / "data", ec);
  if (!ec && options.thumbnails) fs::create_directory(staging.path / "thumbs", ec);
  if (ec) return Error{Errc::io, staging.path.string() + ": " + ec.message()};

  auto& doc = library.catalog();
  HtmlExportStats stats;
  bool stopped = false;
  Status failure;
  // The tree: categories with their children, items with their number in
  // the export (their data file's name).
  std::function<std::string(const xmlNode*)> node = [&](const xmlNode* n) -> std::string {
    if (stopped || !failure) return {};
    if (CatalogDocument::isItem(n)) {
      if (!doc.hasOwnNumber(n)) return {};
      long long id = ++stats.items;
      std::string names, parents, sizes, times, folders, thumbs;
      std::vector<long long> open;  // the entries of the folders being walked
      long long index = 0;
      unsigned long long bytes = 0, files = 0;
      fs::path thumbDir = staging.path / "thumbs" / std::to_string(id);
      bool thumbDirMade = false;
      std::optional<Result<storage::Stream>> thumbStore;  // opened at the item's first thumbnail
      auto thumbStream = catalog::streamName(catalog::StreamKind::thumbnails, doc.parentPath(n),
                                             CatalogDocument::numberOf(n));
      scan::ListingVisitor v;
      v.entry = [&](scan::ListingEntry& e, int) {
        const char* sep = index ? "," : "";
        names += sep + jsonString(e.name);
        parents += sep + std::to_string(open.empty() ? -1 : open.back());
        sizes += sep + std::to_string(e.folder ? 0 : e.size);
        if (!e.folder) {
          bytes += e.size;
          ++files;
        }
        times += sep + jsonString(formatHexTime(e.modified, "%Y-%m-%d %H:%M").value_or(""));
        folders += e.folder ? '1' : '0';
        const std::string* y = e.field("y");
        if (options.thumbnails && y && !e.folder) {
          char* end = nullptr;
          unsigned long long offset = y->size() <= 16 ? std::strtoull(y->c_str(), &end, 16) : 0;
          if (!thumbStore) thumbStore.emplace(library.file().root().openStream(thumbStream));
          auto picture = end && *end == '\0' && *thumbStore
                             ? scan::readRecord(**thumbStore, thumbStream, offset)
                             : Result<std::string>(Error{Errc::invalid_argument, ""});
          if (picture && picture->size() > 3) {
            // The stored thumbnails are JPEG, or PNG where a picture has alpha.
            bool png = static_cast<unsigned char>((*picture)[0]) == 0x89;
            std::string file = std::to_string(index) + (png ? ".png" : ".jpg");
            if (!thumbDirMade) thumbDirMade = fs::create_directory(thumbDir, ec) || fs::is_directory(thumbDir, ec);
            if (Status st = writeFile(thumbDir / file, *picture); !st) {
              failure = st;
            } else {
              thumbs += std::string(thumbs.empty() ? "" : ",") + "\"" + std::to_string(index) + "\":\"" + file + "\"";
              ++stats.thumbnails;
            }
          }
        }
        if (e.folder) open.push_back(index);
        ++index;
        ++stats.entries;
        if (progress && stats.entries % 1000 == 0 && !progress(stats.entries)) stopped = true;
        return e.folder;
      };
      v.leave = [&](const scan::ListingEntry&, int) { open.pop_back(); };
      v.stop = [&] { return stopped || !failure; };
      Status walked = scan::walkListing(
          scan::streamListing(library.file().root(), doc.parentPath(n), CatalogDocument::numberOf(n)), v);
      if (!walked && walked.error().code != Errc::not_found && failure && !stopped) {
        stats.damaged.push_back(doc.namePath(n) + ": " + walked.message());
      }
      std::string data = "T.item(" + std::to_string(id) + ",{\"n\":[" + names + "],\"p\":[" + parents +
                         "],\"s\":[" + sizes + "],\"t\":[" + times + "],\"d\":\"" + folders + "\",\"y\":{" +
                         thumbs + "}});\n";
      if (failure) failure = writeFile(staging.path / "data" / ("i" + std::to_string(id) + ".js"), data);
      return "{\"n\":" + jsonString(doc.field(n, catalog::kLabel)) + ",\"id\":" + std::to_string(id) +
             ",\"f\":" + std::to_string(files) + ",\"s\":" + std::to_string(bytes) + "}";
    }
    std::string children;
    for (const xmlNode* c = n->children; c; c = c->next) {
      if (!CatalogDocument::isItem(c) && !CatalogDocument::isCategory(c)) continue;
      std::string one = node(c);
      if (!one.empty()) children += (children.empty() ? "" : ",") + one;
    }
    std::string name = n == doc.root() ? "" : doc.field(n, catalog::kCategoryName);
    return "{\"n\":" + jsonString(name) + ",\"c\":[" + children + "]}";
  };
  // The whole library stands for its top-level categories and items.
  std::vector<const xmlNode*> tops;
  for (xmlNode* n : selection) {
    if (n != doc.root()) {
      tops.push_back(n);
      continue;
    }
    for (const xmlNode* c = n->children; c; c = c->next) {
      if (CatalogDocument::isItem(c) || CatalogDocument::isCategory(c)) tops.push_back(c);
    }
  }
  std::string roots;
  for (const xmlNode* n : tops) {
    std::string one = node(n);
    if (!one.empty()) roots += (roots.empty() ? "" : ",") + one;
  }
  if (!failure) return failure.error();
  if (stopped) return Error{Errc::cancelled, "the export was stopped"};
  std::string title = options.title.empty() ? library.path().stem().string() : options.title;
  std::string words;
  for (const auto& w : options.words) words += (words.empty() ? "" : ",") + jsonString(w);
  std::string tree = "T.tree({\"title\":" + jsonString(title) + ",\"lang\":" + jsonString(options.language) +
                     ",\"w\":[" + words + "],\"root\":{\"c\":[" + roots + "]}});\n";
  for (auto [name, bytes] : {std::pair<const char*, std::string_view>{"data/tree.js", tree},
                             {"index.html", kPage},
                             {kHtmlExportMark, "A catalogue exported as a web site; open index.html.\n"}}) {
    if (Status st = writeFile(staging.path / name, bytes); !st) return st.error();
  }
  // In place: an earlier export goes aside first and away after.
  fs::path old;
  if (exists) {
    old = parent / ("." + dir.filename().string() + ".old-" + std::to_string(::getpid()));
    fs::rename(dir, old, ec);
    if (ec) return Error{Errc::io, dir.string() + ": " + ec.message()};
  }
  fs::rename(staging.path, dir, ec);
  if (ec) {
    std::error_code back;
    if (!old.empty()) fs::rename(old, dir, back);
    return Error{Errc::io, dir.string() + ": " + ec.message()};
  }
  staging.kept = true;
  if (!old.empty()) fs::remove_all(old, ec);
  return stats;
}

}  // namespace tamber::app
