// tamber storage ...: look into and repair library files at the storage level.
// Paths of nested elements are written with "/".


#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "common.h"
#include "platform/digest.h"
#include "commands.h"
#include "platform/text.h"
#include "storage/compound_file.h"
#include "catalog/library.h"
#include "search/name_index.h"

namespace tamber::cli {

namespace {

using storage::CompoundFile;
using storage::Element;
using storage::ElementType;
using storage::OpenMode;
using storage::Storage;
using storage::Stream;

int failWith(const std::string& message) {
  std::cerr << errorPrefix() << message << "\n";
  return kExitFailure;
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// Walks to the storage that holds the last element of `path`; creates missing
// storages when `create` is set. Returns the last element's name in `leaf`.
Result<Storage> parentOf(CompoundFile& file, const std::string& path, bool create,
                         std::string& leaf) {
  auto parts = splitPath(path);
  if (parts.empty()) return Error{Errc::invalid_name, "empty element path"};
  Storage st = file.root();
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    auto next = st.openStorage(parts[i]);
    if (!next && create && next.error().code == Errc::not_found) next = st.createStorage(parts[i]);
    if (!next) return next.error();
    st = next.value();
  }
  leaf = parts.back();
  return st;
}

std::string sha256Hex(Stream& s) {
  Sha256 sha;
  std::vector<char> buf(1 << 20);
  for (;;) {
    auto n = s.read(buf.data(), buf.size());
    if (!n) throw std::runtime_error(n.message());
    if (n.value() == 0) break;
    sha.update(buf.data(), n.value());
  }
  const auto md = sha.finish();
  return hexDigits(md.data(), static_cast<unsigned int>(md.size()));
}

int listTree(Storage st, const std::string& prefix, bool hash) {
  auto list = st.elements();
  if (!list) return failWith(list.message());
  for (const Element& el : list.value()) {
    std::string path = prefix + el.name;
    if (el.type == ElementType::storage) {
      std::cout << path << "/\n";
      auto sub = st.openStorage(el.name);
      if (!sub) return failWith(sub.message());
      if (int rc = listTree(sub.value(), path + "/", hash); rc != kExitOk) return rc;
      continue;
    }
    std::cout << path << "\t" << el.size;
    if (hash) {
      auto s = st.openStream(el.name);
      if (!s) return failWith(path + ": " + s.message());
      try {
        std::cout << "\t" << sha256Hex(s.value());
      } catch (const std::exception& e) {
        return failWith(path + ": " + e.what());
      }
    }
    std::cout << "\n";
  }
  return kExitOk;
}

int cmdLs(const std::string& file, bool hash) {
  auto f = CompoundFile::open(file, OpenMode::read_only);
  if (!f) return failWith(f.message());
  return listTree(f->root(), "", hash);
}

int cmdCat(const std::string& file, const std::string& path) {
  auto f = CompoundFile::open(file, OpenMode::read_only);
  if (!f) return failWith(f.message());
  std::string leaf;
  auto parent = parentOf(f.value(), path, false, leaf);
  if (!parent) return failWith(path + ": " + parent.message());
  auto s = parent->openStream(leaf);
  if (!s) return failWith(path + ": " + s.message());
  std::vector<char> buf(1 << 20);
  for (;;) {
    auto n = s->read(buf.data(), buf.size());
    if (!n) return failWith(path + ": " + n.message());
    if (n.value() == 0) break;
    if (std::fwrite(buf.data(), 1, n.value(), stdout) != n.value()) {
      return failWith("cannot write to standard output");
    }
  }
  return kExitOk;
}

// A listing (or the index itself) changed by hand: the name index loses its
// stamp, and searches read the listings until the next save makes it again.
// Other streams leave it as it is.
Status unstampIndex(CompoundFile& f, const std::string& path) {
  std::string leaf = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  if (leaf.rfind("col", 0) != 0 && leaf.rfind("arc", 0) != 0 && leaf.rfind("nix", 0) != 0) return {};
  auto root = f.root();
  if (!root.contains(search::kNameIndexHead)) return {};
  return root.destroy(search::kNameIndexHead);
}

Result<CompoundFile> openForWrite(const std::string& file, bool createIfMissing) {
  auto f = CompoundFile::open(file, OpenMode::read_write);
  if (!f && createIfMissing && f.error().code == Errc::not_found) return CompoundFile::create(file);
  return f;
}

int putInto(CompoundFile& f, const std::string& file, const std::string& path, std::istream* src,
            const std::string& source) {
  std::string leaf;
  auto parent = parentOf(f, path, true, leaf);
  if (!parent) return failWith(path + ": " + parent.message());
  auto s = parent->createStream(leaf);
  if (!s) return failWith(path + ": " + s.message());
  std::vector<char> buf(1 << 20);
  while (*src) {
    src->read(buf.data(), static_cast<std::streamsize>(buf.size()));
    auto n = static_cast<size_t>(src->gcount());
    if (n == 0) break;
    if (Status st = s->write(buf.data(), n); !st) return failWith(path + ": " + st.message());
  }
  if (src->bad()) return failWith(source + ": read failed");
  if (Status st = s->commit(); !st) return failWith(path + ": " + st.message());
  if (Status st = unstampIndex(f, path); !st) return failWith(file + ": " + st.message());
  if (Status st = f.commit(); !st) return failWith(file + ": " + st.message());
  return kExitOk;
}

int cmdPut(const std::string& file, const std::string& path, const std::string& source) {
  std::ifstream in;
  std::istream* src = &std::cin;
  if (source != "-") {
    in.open(source, std::ios::binary);
    if (!in) return failWith(source + ": cannot open");
    src = &in;
  }
  std::error_code ec;
  bool existed = std::filesystem::exists(file, ec) || std::filesystem::is_symlink(file, ec);
  auto f = openForWrite(file, true);
  if (!f) return failWith(f.message());
  int rc = putInto(f.value(), file, path, src, source);
  if (rc != kExitOk && !existed) {
    // A library this command made is not left behind empty.
    std::filesystem::remove(file, ec);
  }
  return rc;
}

int cmdRm(const std::string& file, const std::string& path) {
  auto f = openForWrite(file, false);
  if (!f) return failWith(f.message());
  std::string leaf;
  auto parent = parentOf(f.value(), path, false, leaf);
  if (!parent) return failWith(path + ": " + parent.message());
  if (Status st = parent->destroy(leaf); !st) return failWith(path + ": " + st.message());
  if (Status st = unstampIndex(*f, path); !st) return failWith(file + ": " + st.message());
  if (Status st = f->commit(); !st) return failWith(file + ": " + st.message());
  return kExitOk;
}

int cmdMv(const std::string& file, const std::string& from, const std::string& to) {
  auto f = openForWrite(file, false);
  if (!f) return failWith(f.message());
  std::string fromLeaf, toLeaf;
  auto fromParent = parentOf(f.value(), from, false, fromLeaf);
  if (!fromParent) return failWith(from + ": " + fromParent.message());
  auto toParts = splitPath(to);
  auto fromParts = splitPath(from);
  if (toParts.size() != fromParts.size() ||
      !std::equal(toParts.begin(), toParts.end() - 1, fromParts.begin())) {
    return failWith("mv renames an element inside its storage: " + to +
                    " must name the same storage as " + from);
  }
  if (Status st = fromParent->rename(fromLeaf, toParts.back()); !st) {
    return failWith(from + ": " + st.message());
  }
  if (Status st = unstampIndex(*f, from); !st) return failWith(file + ": " + st.message());
  if (Status st = unstampIndex(*f, to); !st) return failWith(file + ": " + st.message());
  if (Status st = f->commit(); !st) return failWith(file + ": " + st.message());
  return kExitOk;
}

int cmdCheck(const std::string& file) {
  auto f = CompoundFile::open(file, OpenMode::read_only);
  if (!f) return failWith(f.message());
  auto report = f->check();
  for (const auto& fault : report.faults) std::cout << file << ": " << fault << "\n";
  if (!report.ok()) return kExitFailure;
  // A library's name index: damage is a fault; an index that is only out
  // of date is made again by the next save.
  if (f->root().contains(search::kNameIndexHead)) {
    auto library = catalog::Library::open(file, true);
    if (!library) return failWith(library.message());
    auto index = search::inspectNameIndex(**library, true);
    for (const auto& d : index.damage) std::cout << file << ": name index: " << d << "\n";
    if (!index.damage.empty()) return kExitFailure;
    if (!index.current || !index.problems.empty()) {
      std::cout << file << ": the name index is out of date (the next change to the library makes it again)\n";
    }
  }
  auto info = f->info();
  std::cout << file << ": ok (version " << info.version << ", " << info.fileSize << " bytes, "
            << info.freeBytes << " free)\n";
  return kExitOk;
}

int cmdCompact(const std::string& file) {
  if (Status st = storage::compact(file); !st) return failWith(st.message());
  return kExitOk;
}

}  // namespace

void registerStorageCommands(CLI::App& app, int& status) {
  auto* storage = app.add_subcommand("storage", "Inspect and change a library file's streams");
  storage->require_subcommand(1);
  struct Args {
    std::string file, path, other;
    bool hash = false;
  };
  auto args = std::make_shared<Args>();

  auto* ls = storage->add_subcommand("ls", "List every stream with its size");
  ls->add_option("FILE", args->file, "Library file")->required();
  ls->add_flag("--hash", args->hash, "Add each stream's SHA-256");
  ls->callback([&status, args] { status = cmdLs(args->file, args->hash); });

  auto* cat = storage->add_subcommand("cat", "Write a stream's bytes to standard output");
  cat->add_option("FILE", args->file, "Library file")->required();
  cat->add_option("STREAM", args->path, "Stream path, storages separated by /")->required();
  cat->callback([&status, args] { status = cmdCat(args->file, args->path); });

  auto* put = storage->add_subcommand("put", "Store a file as a stream (creates FILE if missing)");
  put->add_option("FILE", args->file, "Library file")->required();
  put->add_option("STREAM", args->path, "Stream path, storages separated by /")->required();
  put->add_option("SOURCE", args->other, "File to store, - for standard input")->required();
  put->callback([&status, args] { status = cmdPut(args->file, args->path, args->other); });

  auto* rm = storage->add_subcommand("rm", "Remove a stream or a storage with its contents");
  rm->add_option("FILE", args->file, "Library file")->required();
  rm->add_option("STREAM", args->path, "Element path")->required();
  rm->callback([&status, args] { status = cmdRm(args->file, args->path); });

  auto* mv = storage->add_subcommand("mv", "Rename an element inside its storage");
  mv->add_option("FILE", args->file, "Library file")->required();
  mv->add_option("OLD", args->path, "Element path")->required();
  mv->add_option("NEW", args->other, "New path (same storage)")->required();
  mv->callback([&status, args] { status = cmdMv(args->file, args->path, args->other); });

  auto* check = storage->add_subcommand(
      "check", "Verify every chain, the directory trees and the free space (exit 1 on faults)");
  check->add_option("FILE", args->file, "Library file")->required();
  check->callback([&status, args] { status = cmdCheck(args->file); });

  auto* compact = storage->add_subcommand("compact", "Rewrite the file without free space");
  compact->add_option("FILE", args->file, "Library file")->required();
  compact->callback([&status, args] { status = cmdCompact(args->file); });
}

}  // namespace tamber::cli
