// A deterministic random workload over a compound file, with a model of what
// every committed state holds. Choices depend only on the seed and the model,
// so running it without a file (dry) reproduces the model of any transaction.
#pragma once

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "storage/compound_file.h"

namespace tamber::storage {

class Workload {
 public:
  using Tree = std::map<std::string, std::string>;

  // `small` leaves out the streams of a megabyte and more, for tests that
  // replay the workload hundreds of times.
  explicit Workload(unsigned seed, bool small = false) : rng_(seed), small_(small) {}

  const Tree& committed() const { return committed_; }
  // The state the last (possibly interrupted) commit tried to make durable.
  const Tree& attempted() const { return attempted_; }

  // One transaction of 1 to 8 operations, then a commit (or sometimes a
  // revert). Returns false when the file reported a failure; the model then
  // keeps the last committed state. `file` null runs the model alone.
  bool runTransaction(CompoundFile* file) {
    working_ = committedModel_;
    log_.clear();
    ++transactions_;
    int ops = 1 + static_cast<int>(rng_() % 8);
    for (int i = 0; i < ops; ++i) {
      if (!step(file)) return failed();
    }
    if (rng_() % 10 == 0) {
      log_.push_back("revert");
      if (file && !file->revert()) return failed();
      attempted_ = committed_;
      lastWasCommit_ = false;
      return true;
    }
    attempted_ = working_.streams;
    if (file && beforeCommit_ && !beforeCommit_(*file, transactions_)) return failed();
    if (file && !file->commit()) return failed();
    committedModel_ = working_;
    committed_ = working_.streams;
    lastWasCommit_ = true;
    return true;
  }
  bool runTransaction(CompoundFile& file) { return runTransaction(&file); }

  // Called with the transaction's number (from 1) just before its commit.
  void setBeforeCommit(std::function<bool(CompoundFile&, uint64_t)> f) {
    beforeCommit_ = std::move(f);
  }
  uint64_t transactions() const { return transactions_; }
  bool lastWasCommit() const { return lastWasCommit_; }

  // The operations of the last transaction, for failure messages.
  std::string lastOps() const {
    std::string out;
    for (const auto& l : log_) out += l + "\n";
    return out;
  }

 private:
  struct Model {
    Tree streams;                           // path -> content
    std::set<std::string> storages{""};     // paths; "" is the root
  };

  bool failed() {
    lastWasCommit_ = false;
    attempted_ = working_.streams;
    return false;
  }

  static std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static std::string join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "/" + name;
  }
  static std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
  }
  static std::string leafOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

  // The child of `parent` whose name equals `name` ignoring case.
  std::optional<std::string> findChild(const std::string& parent, const std::string& name) const {
    std::string want = lower(name);
    for (const auto& [path, data] : working_.streams) {
      if (parentOf(path) == parent && lower(leafOf(path)) == want) return path;
    }
    for (const auto& path : working_.storages) {
      if (!path.empty() && parentOf(path) == parent && lower(leafOf(path)) == want) return path;
    }
    return std::nullopt;
  }

  void removeModel(const std::string& path) {
    working_.streams.erase(path);
    working_.storages.erase(path);
    std::string prefix = path + "/";
    std::erase_if(working_.streams, [&](const auto& kv) { return kv.first.starts_with(prefix); });
    std::erase_if(working_.storages, [&](const auto& p) { return p.starts_with(prefix); });
  }

  void renameModel(const std::string& from, const std::string& to) {
    Model next;
    next.storages.clear();
    auto move = [&](const std::string& p) {
      if (p == from) return to;
      if (p.starts_with(from + "/")) return to + p.substr(from.size());
      return p;
    };
    for (const auto& [p, d] : working_.streams) next.streams[move(p)] = d;
    for (const auto& p : working_.storages) next.storages.insert(move(p));
    working_ = std::move(next);
  }

  static std::optional<Storage> storageAt(CompoundFile& f, const std::string& path) {
    Storage st = f.root();
    if (path.empty()) return st;
    size_t start = 0;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      auto next = st.openStorage(path.substr(start, slash - start));
      if (!next) return std::nullopt;
      st = next.value();
      start = slash + 1;
    }
    return st;
  }

  template <class T>
  const T& pick(const std::vector<T>& v) {
    return v[rng_() % v.size()];
  }

  std::string bytes(size_t n) {
    std::string s(n, '\0');
    uint32_t x = rng_();
    for (auto& c : s) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    return s;
  }

  size_t randomSize() {
    switch (rng_() % 6) {
      case 0: return rng_() % 100;
      case 1: return 4090 + rng_() % 12;  // around the mini stream cutoff
      case 2: return rng_() % 4096;
      case 3: return 5000 + rng_() % 60000;
      case 4:
        if (rng_() % 20 == 0 && !small_) return 1'000'000 + rng_() % 300000;
        return rng_() % 9000;
      default: return 0;
    }
  }

  bool step(CompoundFile* f) {
    std::vector<std::string> storages(working_.storages.begin(), working_.storages.end());
    std::vector<std::string> streams;
    for (const auto& kv : working_.streams) streams.push_back(kv.first);
    unsigned r = rng_() % 100;
    if (r < 35) return createStream(f, pick(storages));
    if (r < 60 && !streams.empty()) return modifyStream(f, pick(streams));
    if (r < 70) {
      std::vector<std::string> all = streams;
      for (const auto& s : storages) {
        if (!s.empty()) all.push_back(s);
      }
      if (all.empty()) return true;
      std::string victim = pick(all);
      log_.push_back("destroy " + victim);
      if (f) {
        auto st = storageAt(*f, parentOf(victim));
        if (!st || !st->destroy(leafOf(victim))) return false;
      }
      removeModel(victim);
      return true;
    }
    if (r < 80) {
      std::vector<std::string> all = streams;
      for (const auto& s : storages) {
        if (!s.empty()) all.push_back(s);
      }
      if (all.empty()) return true;
      std::string from = pick(all);
      std::string name = "r" + std::to_string(rng_() % 50);
      if (findChild(parentOf(from), name)) return true;  // the engine refuses; tested elsewhere
      if (f) {
        auto st = storageAt(*f, parentOf(from));
        if (!st || !st->rename(leafOf(from), name)) return false;
      }
      log_.push_back("rename " + from + " -> " + name);
      renameModel(from, join(parentOf(from), name));
      return true;
    }
    if (r < 88) {
      std::string parent = pick(storages);
      if (std::count(parent.begin(), parent.end(), '/') >= 2) return true;
      std::string name = "d" + std::to_string(rng_() % 6);
      if (f) {
        auto st = storageAt(*f, parent);
        if (!st || !st->createStorage(name)) return false;
      }
      if (auto old = findChild(parent, name)) removeModel(*old);
      log_.push_back("create storage " + join(parent, name));
      working_.storages.insert(join(parent, name));
      return true;
    }
    return true;
  }

  bool createStream(CompoundFile* f, const std::string& parent) {
    std::string name = "s" + std::to_string(rng_() % 40);
    if (rng_() % 10 == 0) name[0] = 'S';
    std::string data = bytes(randomSize());
    bool commit = rng_() % 5 != 0;
    size_t cut = data.empty() ? 0 : rng_() % data.size();
    if (f) {
      auto st = storageAt(*f, parent);
      if (!st) return false;
      auto s = st->createStream(name);
      if (!s) return false;
      if (!s->write(data.data(), cut) || !s->write(data.data() + cut, data.size() - cut)) {
        return false;
      }
      if (commit && !s->commit()) return false;
    }
    if (auto old = findChild(parent, name)) removeModel(*old);
    log_.push_back("create stream " + join(parent, name) + " " + std::to_string(data.size()) +
                   (commit ? " committed" : " dropped"));
    working_.streams[join(parent, name)] = commit ? data : std::string();
    return true;
  }

  bool modifyStream(CompoundFile* f, const std::string& path) {
    std::string model = working_.streams[path];
    std::optional<Stream> s;
    if (f) {
      auto st = storageAt(*f, parentOf(path));
      if (!st) return false;
      auto opened = st->openStream(leafOf(path));
      if (!opened) return false;
      s = std::move(opened.value());
    }
    int edits = 1 + static_cast<int>(rng_() % 4);
    for (int i = 0; i < edits; ++i) {
      if (rng_() % 3 == 0) {
        size_t size = randomSize();
        log_.push_back("  set size " + path + " " + std::to_string(size));
        if (s && !s->setSize(size)) return false;
        model.resize(size, '\0');
        continue;
      }
      size_t off = rng_() % (model.size() + 1000);
      std::string data = bytes(rng_() % 3 == 0 ? randomSize() : rng_() % 700);
      log_.push_back("  write " + path + " at " + std::to_string(off) + " " +
                     std::to_string(data.size()));
      if (s && (!s->seek(static_cast<int64_t>(off)) || !s->write(data))) return false;
      // A write of nothing does not extend the stream.
      if (data.empty()) continue;
      if (model.size() < off + data.size()) model.resize(off + data.size(), '\0');
      model.replace(off, data.size(), data);
    }
    if (rng_() % 4 == 0) {
      log_.push_back("  revert " + path);
      if (s && !s->revert()) return false;
      return true;
    }
    log_.push_back("  commit " + path + " at " + std::to_string(model.size()));
    if (s && !s->commit()) return false;
    working_.streams[path] = model;
    return true;
  }

  std::mt19937 rng_;
  bool small_ = false;
  uint64_t transactions_ = 0;
  bool lastWasCommit_ = false;
  std::function<bool(CompoundFile&, uint64_t)> beforeCommit_;
  std::vector<std::string> log_;
  Model committedModel_;
  Model working_;
  Tree committed_;
  Tree attempted_;
};

}  // namespace tamber::storage
