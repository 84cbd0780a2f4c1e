// Fuzz target: a compound file from untrusted bytes is opened, checked,
// walked and read, then changed and committed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/compound_file.h"
#include "tests/storage/mem_file.h"

using namespace tamber::storage;

namespace {

void walk(Storage st, int depth) {
  if (depth > 64) return;
  auto list = st.elements();
  if (!list) return;
  for (const auto& el : list.value()) {
    if (el.type == ElementType::storage) {
      if (auto sub = st.openStorage(el.name)) walk(sub.value(), depth + 1);
      continue;
    }
    if (auto s = st.openStream(el.name)) {
      char buf[4096];
      while (true) {
        auto n = s->read(buf, sizeof buf);
        if (!n || n.value() == 0) break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> image(data, data + size);
  {
    auto f = CompoundFile::open(testing::memFile(testing::diskWith(image)), OpenMode::read_only);
    if (!f) return 0;
    (void)f->check();
    walk(f->root(), 0);
  }
  auto f = CompoundFile::open(testing::memFile(testing::diskWith(image)), OpenMode::read_write);
  if (!f) return 0;
  if (auto s = f->root().createStream("fuzz")) {
    (void)s->write(std::string(5000, 'f'));
    (void)s->commit();
  }
  (void)f->root().destroy("categories");
  (void)f->commit();
  walk(f->root(), 0);
  return 0;
}
