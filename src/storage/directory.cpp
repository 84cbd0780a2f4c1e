// The directory: entries, names and the red-black tree of each storage.
//
// The format orders the children of a storage by name length in UTF-16 units
// first, then by upper-cased code units. Trees written by other programs are
// not trusted: loading walks every tree iteratively with a visited map and
// rebuilds any tree that is not a valid red-black tree in that order.

#include <unicode/uchar.h>

#include <algorithm>
#include <functional>

#include "platform/utf.h"
#include "storage/engine.h"

namespace tamber::storage::detail {

namespace {

char16_t upper(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
  UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

std::u16string checkedName(std::string_view name) {
  if (Status s = validateName(name); !s) fail(s.error().code, s.message());
  return *utf8ToUtf16(name);
}

}  // namespace

int compareNames(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = upper(a[i]), y = upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Loading the trees

void Engine::buildTrees() {
  std::vector<uint8_t> seen(entries_.size(), 0);
  parent_.assign(entries_.size(), kNoStream);
  repairedTrees_.clear();
  std::vector<uint32_t> storages{0};
  seen[0] = 1;
  std::vector<uint32_t> stack;
  while (!storages.empty()) {
    uint32_t st = storages.back();
    storages.pop_back();
    std::vector<uint32_t> kids;
    stack.clear();
    if (entries_[st].child != kNoStream) stack.push_back(entries_[st].child);
    while (!stack.empty()) {
      uint32_t x = stack.back();
      stack.pop_back();
      if (x >= entries_.size()) {
        throw Failure{{Errc::corrupt, "the file is damaged: directory link past the end"}};
      }
      if (seen[x]) {
        throw Failure{{Errc::corrupt, "the file is damaged: directory entries form a cycle"}};
      }
      seen[x] = 1;
      const DirEntry& e = entries_[x];
      if (e.type != kTypeStorage && e.type != kTypeStream) {
        throw Failure{{Errc::corrupt, "the file is damaged: a free entry is linked in the directory"}};
      }
      kids.push_back(x);
      if (e.left != kNoStream) stack.push_back(e.left);
      if (e.right != kNoStream) stack.push_back(e.right);
      if (e.type == kTypeStorage) storages.push_back(x);
    }
    if (treeIsValid(st, kids)) {
      for (uint32_t x : kids) {
        if (entries_[x].left != kNoStream) parent_[entries_[x].left] = x;
        if (entries_[x].right != kNoStream) parent_[entries_[x].right] = x;
      }
    } else {
      repairedTrees_.push_back(st);
      rebuildTree(st, std::move(kids));
    }
  }
}

bool Engine::treeIsValid(uint32_t storage, const std::vector<uint32_t>& kids) const {
  uint32_t root = entries_[storage].child;
  if (root == kNoStream) return true;
  if (entries_[root].color != kBlack) return false;
  // Depth-first with black counts; every path to a leaf must count the same.
  struct Item {
    uint32_t node;
    int blacks;
  };
  std::vector<Item> stack{{root, 0}};
  int leafBlacks = -1;
  while (!stack.empty()) {
    auto [x, blacks] = stack.back();
    stack.pop_back();
    const DirEntry& e = entries_[x];
    if (e.color == kBlack) ++blacks;
    for (uint32_t c : {e.left, e.right}) {
      if (c == kNoStream) {
        if (leafBlacks < 0) leafBlacks = blacks;
        if (leafBlacks != blacks) return false;
        continue;
      }
      if (e.color == kRed && entries_[c].color == kRed) return false;
      stack.push_back({c, blacks});
    }
  }
  // In-order walk: names strictly increasing (case-insensitive duplicates fail).
  std::vector<uint32_t> order;
  order.reserve(kids.size());
  std::vector<uint32_t> path;
  uint32_t x = root;
  while (x != kNoStream || !path.empty()) {
    while (x != kNoStream) {
      path.push_back(x);
      x = entries_[x].left;
    }
    x = path.back();
    path.pop_back();
    if (!order.empty() && compareNames(entries_[order.back()].name, entries_[x].name) >= 0) {
      return false;
    }
    order.push_back(x);
    x = entries_[x].right;
  }
  return true;
}

void Engine::rebuildTree(uint32_t storage, std::vector<uint32_t> kids) {
  std::stable_sort(kids.begin(), kids.end(), [&](uint32_t a, uint32_t b) {
    return compareNames(entries_[a].name, entries_[b].name) < 0;
  });
  int depth = 0;
  while ((size_t{1} << depth) <= kids.size()) ++depth;  // levels of a balanced tree
  // Nodes on the last, incomplete level are red, all others black: every path
  // then counts the same black nodes and no red node has a red child.
  std::function<uint32_t(size_t, size_t, uint32_t, int)> build =
      [&](size_t lo, size_t hi, uint32_t parent, int level) -> uint32_t {
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    uint32_t x = kids[mid];
    parent_[x] = parent;
    entries_[x].color = (level == depth - 1 && level > 0) ? kRed : kBlack;
    entries_[x].left = build(lo, mid, x, level + 1);
    entries_[x].right = build(mid + 1, hi, x, level + 1);
    markDirty(x);
    return x;
  };
  entries_[storage].child = build(0, kids.size(), kNoStream, 0);
  markDirty(storage);
}

// ---------------------------------------------------------------------------
// Red-black tree operations

void Engine::setLeft(uint32_t x, uint32_t v) {
  if (entries_[x].left == v) return;
  entries_[x].left = v;
  markDirty(x);
}

void Engine::setRight(uint32_t x, uint32_t v) {
  if (entries_[x].right == v) return;
  entries_[x].right = v;
  markDirty(x);
}

void Engine::setColor(uint32_t x, uint8_t c) {
  if (x == kNoStream || entries_[x].color == c) return;
  entries_[x].color = c;
  markDirty(x);
}

void Engine::setRoot(uint32_t storage, uint32_t v) {
  if (entries_[storage].child != v) {
    entries_[storage].child = v;
    markDirty(storage);
  }
  if (v != kNoStream) parent_[v] = kNoStream;
}

uint32_t Engine::treeFind(uint32_t storage, const std::u16string& name) const {
  uint32_t x = entries_[storage].child;
  while (x != kNoStream) {
    int c = compareNames(name, entries_[x].name);
    if (c == 0) return x;
    x = c < 0 ? entries_[x].left : entries_[x].right;
  }
  return kNoStream;
}

void Engine::rotateLeft(uint32_t storage, uint32_t x) {
  uint32_t y = entries_[x].right;
  setRight(x, entries_[y].left);
  if (entries_[y].left != kNoStream) parent_[entries_[y].left] = x;
  uint32_t p = parent_[x];
  parent_[y] = p;
  if (p == kNoStream) {
    setRoot(storage, y);
  } else if (entries_[p].left == x) {
    setLeft(p, y);
  } else {
    setRight(p, y);
  }
  setLeft(y, x);
  parent_[x] = y;
}

void Engine::rotateRight(uint32_t storage, uint32_t x) {
  uint32_t y = entries_[x].left;
  setLeft(x, entries_[y].right);
  if (entries_[y].right != kNoStream) parent_[entries_[y].right] = x;
  uint32_t p = parent_[x];
  parent_[y] = p;
  if (p == kNoStream) {
    setRoot(storage, y);
  } else if (entries_[p].right == x) {
    setRight(p, y);
  } else {
    setLeft(p, y);
  }
  setRight(y, x);
  parent_[x] = y;
}

void Engine::treeInsert(uint32_t storage, uint32_t z) {
  uint32_t y = kNoStream;
  uint32_t x = entries_[storage].child;
  int c = 0;
  while (x != kNoStream) {
    y = x;
    c = compareNames(entries_[z].name, entries_[x].name);
    x = c < 0 ? entries_[x].left : entries_[x].right;
  }
  entries_[z].left = entries_[z].right = kNoStream;
  entries_[z].color = kRed;
  markDirty(z);
  parent_[z] = y;
  if (y == kNoStream) {
    setRoot(storage, z);
  } else if (c < 0) {
    setLeft(y, z);
  } else {
    setRight(y, z);
  }
  while (colorOf(parent_[z]) == kRed) {
    uint32_t p = parent_[z];
    uint32_t g = parent_[p];  // a red node is never the root, so g exists
    if (p == entries_[g].left) {
      uint32_t u = entries_[g].right;
      if (colorOf(u) == kRed) {
        setColor(p, kBlack);
        setColor(u, kBlack);
        setColor(g, kRed);
        z = g;
        continue;
      }
      if (z == entries_[p].right) {
        z = p;
        rotateLeft(storage, z);
        p = parent_[z];
        g = parent_[p];
      }
      setColor(p, kBlack);
      setColor(g, kRed);
      rotateRight(storage, g);
    } else {
      uint32_t u = entries_[g].left;
      if (colorOf(u) == kRed) {
        setColor(p, kBlack);
        setColor(u, kBlack);
        setColor(g, kRed);
        z = g;
        continue;
      }
      if (z == entries_[p].left) {
        z = p;
        rotateRight(storage, z);
        p = parent_[z];
        g = parent_[p];
      }
      setColor(p, kBlack);
      setColor(g, kRed);
      rotateLeft(storage, g);
    }
  }
  setColor(entries_[storage].child, kBlack);
}

void Engine::transplant(uint32_t storage, uint32_t u, uint32_t v) {
  uint32_t p = parent_[u];
  if (p == kNoStream) {
    setRoot(storage, v);
  } else if (entries_[p].left == u) {
    setLeft(p, v);
  } else {
    setRight(p, v);
  }
  if (v != kNoStream) parent_[v] = p;
}

void Engine::treeErase(uint32_t storage, uint32_t z) {
  uint32_t x, xParent;
  uint8_t removedColor = entries_[z].color;
  if (entries_[z].left == kNoStream) {
    x = entries_[z].right;
    xParent = parent_[z];
    transplant(storage, z, x);
  } else if (entries_[z].right == kNoStream) {
    x = entries_[z].left;
    xParent = parent_[z];
    transplant(storage, z, x);
  } else {
    uint32_t y = entries_[z].right;
    while (entries_[y].left != kNoStream) y = entries_[y].left;
    removedColor = entries_[y].color;
    x = entries_[y].right;
    if (parent_[y] == z) {
      xParent = y;
    } else {
      xParent = parent_[y];
      transplant(storage, y, x);
      setRight(y, entries_[z].right);
      parent_[entries_[y].right] = y;
    }
    transplant(storage, z, y);
    setLeft(y, entries_[z].left);
    parent_[entries_[y].left] = y;
    setColor(y, entries_[z].color);
  }
  if (removedColor == kBlack) {
    while (x != entries_[storage].child && colorOf(x) == kBlack && xParent != kNoStream) {
      if (x == entries_[xParent].left) {
        uint32_t w = entries_[xParent].right;
        if (colorOf(w) == kRed) {
          setColor(w, kBlack);
          setColor(xParent, kRed);
          rotateLeft(storage, xParent);
          w = entries_[xParent].right;
        }
        if (w == kNoStream) break;  // only in a tree that was not valid
        if (colorOf(entries_[w].left) == kBlack && colorOf(entries_[w].right) == kBlack) {
          setColor(w, kRed);
          x = xParent;
          xParent = parent_[x];
        } else {
          if (colorOf(entries_[w].right) == kBlack) {
            setColor(entries_[w].left, kBlack);
            setColor(w, kRed);
            rotateRight(storage, w);
            w = entries_[xParent].right;
          }
          setColor(w, entries_[xParent].color);
          setColor(xParent, kBlack);
          setColor(entries_[w].right, kBlack);
          rotateLeft(storage, xParent);
          x = entries_[storage].child;
          break;
        }
      } else {
        uint32_t w = entries_[xParent].left;
        if (colorOf(w) == kRed) {
          setColor(w, kBlack);
          setColor(xParent, kRed);
          rotateRight(storage, xParent);
          w = entries_[xParent].left;
        }
        if (w == kNoStream) break;
        if (colorOf(entries_[w].left) == kBlack && colorOf(entries_[w].right) == kBlack) {
          setColor(w, kRed);
          x = xParent;
          xParent = parent_[x];
        } else {
          if (colorOf(entries_[w].left) == kBlack) {
            setColor(entries_[w].right, kBlack);
            setColor(w, kRed);
            rotateLeft(storage, w);
            w = entries_[xParent].left;
          }
          setColor(w, entries_[xParent].color);
          setColor(xParent, kBlack);
          setColor(entries_[w].left, kBlack);
          rotateRight(storage, xParent);
          x = entries_[storage].child;
          break;
        }
      }
    }
    setColor(x, kBlack);
  }
  entries_[z].left = entries_[z].right = kNoStream;
  parent_[z] = kNoStream;
  markDirty(z);
}

std::vector<uint32_t> Engine::inOrder(uint32_t storage) const {
  std::vector<uint32_t> order;
  std::vector<uint32_t> path;
  uint32_t x = entries_[storage].child;
  while (x != kNoStream || !path.empty()) {
    while (x != kNoStream) {
      path.push_back(x);
      x = entries_[x].left;
    }
    x = path.back();
    path.pop_back();
    order.push_back(x);
    x = entries_[x].right;
  }
  return order;
}

// ---------------------------------------------------------------------------
// Entries

uint32_t Engine::allocEntry() {
  if (freeEntries_.empty()) {
    auto first = static_cast<uint32_t>(entries_.size());
    entries_.resize(entries_.size() + entriesPerSector_);
    serials_.resize(entries_.size(), 0);
    parent_.resize(entries_.size(), kNoStream);
    dir_.push_back(kFreeSect);  // placed by the next commit
    dirDirty_.push_back(1);
    for (auto i = first; i < entries_.size(); ++i) freeEntries_.insert(i);
  }
  uint32_t id = *freeEntries_.begin();
  freeEntries_.erase(freeEntries_.begin());
  serials_[id] = nextSerial_++;
  return id;
}

void Engine::freeEntry(uint32_t id) {
  entries_[id] = DirEntry{};
  serials_[id] = 0;
  parent_[id] = kNoStream;
  markDirty(id);
  freeEntries_.insert(id);
}

void Engine::trimDirectory() {
  // Directory sectors at the end that hold only free entries are dropped.
  while (dir_.size() > 1) {
    size_t first = (dir_.size() - 1) * entriesPerSector_;
    bool allFree = true;
    for (size_t i = first; i < entries_.size() && allFree; ++i) {
      allFree = entries_[i].type == kTypeEmpty;
    }
    if (!allFree) break;
    for (size_t i = first; i < entries_.size(); ++i) freeEntries_.erase(static_cast<uint32_t>(i));
    entries_.resize(first);
    serials_.resize(first);
    parent_.resize(first);
    if (dir_.back() != kFreeSect) freeSector(dir_.back());
    dir_.pop_back();
    dirDirty_.pop_back();
    if (dir_.back() != kFreeSect) setFat(dir_.back(), kEndOfChain);
  }
}

// ---------------------------------------------------------------------------
// Storage operations

void Engine::requireStorage(uint32_t storage, uint64_t serial) const {
  requireUsable();
  if (storage >= entries_.size() || serials_[storage] != serial ||
      (entries_[storage].type != kTypeStorage && entries_[storage].type != kTypeRoot)) {
    fail(Errc::not_found, "the storage no longer exists");
  }
}

Element Engine::elementOf(uint32_t id) const {
  const DirEntry& e = entries_[id];
  Element el;
  el.name = utf16ToUtf8(e.name);
  el.type = e.type == kTypeStream ? ElementType::stream : ElementType::storage;
  el.size = e.type == kTypeStream ? e.size : 0;  // as last committed
  return el;
}

std::vector<Element> Engine::elements(uint32_t storage) const {
  std::vector<Element> out;
  for (uint32_t id : inOrder(storage)) out.push_back(elementOf(id));
  return out;
}

uint32_t Engine::find(uint32_t storage, std::string_view name) const {
  auto u = utf8ToUtf16(name);
  if (!u) return kNoStream;
  return treeFind(storage, *u);
}

uint32_t Engine::createElement(uint32_t storage, std::string_view name, uint8_t type) {
  requireWritable();
  std::u16string u = checkedName(name);
  uint32_t old = treeFind(storage, u);
  if (old != kNoStream) destroy(storage, name);
  uint32_t id = allocEntry();
  DirEntry& e = entries_[id];
  e = DirEntry{};
  e.name = u;
  e.type = type;
  e.start = type == kTypeStream ? kEndOfChain : 0;
  treeInsert(storage, id);
  return id;
}

bool Engine::subtreeHasOpenStream(uint32_t id) const {
  if (entries_[id].type == kTypeStream) return open_.count(id) != 0;
  std::vector<uint32_t> stack{id};
  while (!stack.empty()) {
    uint32_t st = stack.back();
    stack.pop_back();
    for (uint32_t c : inOrder(st)) {
      if (entries_[c].type == kTypeStream && open_.count(c)) return true;
      if (entries_[c].type == kTypeStorage) stack.push_back(c);
    }
  }
  return false;
}

void Engine::destroySubtree(uint32_t id) {
  std::vector<uint32_t> stack{id};
  while (!stack.empty()) {
    uint32_t x = stack.back();
    stack.pop_back();
    DirEntry& e = entries_[x];
    if (e.type == kTypeStorage) {
      for (uint32_t c : inOrder(x)) stack.push_back(c);
    } else if (e.type == kTypeStream) {
      if (e.size < kMiniStreamCutoff) {
        freeMiniChain(e.start, e.size);
      } else {
        freeChain(e.start);
      }
    }
    freeEntry(x);
  }
}

void Engine::destroy(uint32_t storage, std::string_view name) {
  requireWritable();
  uint32_t id = find(storage, name);
  if (id == kNoStream) fail(Errc::not_found, "no element named \"" + std::string(name) + "\"");
  if (subtreeHasOpenStream(id)) {
    fail(Errc::in_use, "\"" + std::string(name) + "\" is open and cannot be removed");
  }
  treeErase(storage, id);
  destroySubtree(id);
}

void Engine::rename(uint32_t storage, std::string_view from, std::string_view to) {
  requireWritable();
  uint32_t id = find(storage, from);
  if (id == kNoStream) fail(Errc::not_found, "no element named \"" + std::string(from) + "\"");
  std::u16string u = checkedName(to);
  uint32_t clash = treeFind(storage, u);
  if (clash != kNoStream && clash != id) {
    fail(Errc::exists, "an element named \"" + std::string(to) + "\" exists already");
  }
  if (open_.count(id)) fail(Errc::in_use, "\"" + std::string(from) + "\" is open");
  treeErase(storage, id);
  entries_[id].name = u;
  treeInsert(storage, id);
}

}  // namespace tamber::storage::detail
