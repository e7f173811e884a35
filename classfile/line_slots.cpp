#include "classfile/line_slots.h"

#include <algorithm>

#include "classfile/bytes.h"

namespace classfile {

bool describeLineSlots(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                       std::vector<LineSlot>* out) {
  // The table's entries that start an instruction go straight into *out,
  // and are sorted and thinned there: no second buffer for every method
  // loaded.
  std::vector<LineSlot>& entries = *out;
  entries.clear();
  for (const Attribute& a : code.attributes) {
    if (a.kind != AttributeKind::kLineNumberTable) continue;
    if (a.length < 2) return false;
    const uint8_t* p = cf.data + a.info;
    uint32_t count = readU2(p);
    if (a.length != 2 + 4 * count) return false;
    for (uint32_t k = 0; k < count; k++) {
      uint32_t pc = readU2(p + 2 + 4 * static_cast<size_t>(k));
      if (pc > bc.length) return false;
      if (pc < bc.length && bc.indexAt[pc] >= 0) {
        entries.push_back({pc, static_cast<uint16_t>(readU2(p + 4 + 4 * static_cast<size_t>(k)))});
      }
    }
  }
  // Compilers write the table in code order, mostly: sorting is the exception.
  auto byOffset = [](const LineSlot& a, const LineSlot& b) { return a.offset < b.offset; };
  if (!std::is_sorted(entries.begin(), entries.end(), byOffset)) {
    std::stable_sort(entries.begin(), entries.end(), byOffset);
  }
  // Line 0 opens no slot of its own; the kept entries are a prefix that
  // never overtakes the one read.
  size_t kept = 0;
  for (size_t k = 0; k < entries.size(); k++) {
    bool firstOfOffset = kept == 0 || entries[kept - 1].offset != entries[k].offset;
    if (entries[k].line == 0 && firstOfOffset) continue;
    entries[kept++] = entries[k];
  }
  entries.resize(kept);
  return true;
}

uint16_t effectiveAccess(uint16_t accessFlags, std::span<const Attribute> attributes) {
  for (const Attribute& a : attributes) {
    if (a.kind == AttributeKind::kSynthetic) return accessFlags | kAccSynthetic;
  }
  return accessFlags;
}

bool ownsLines(uint16_t classAccess, uint16_t methodAccess, std::string_view name) {
  if (classAccess & kAccSynthetic) return false;
  return (methodAccess & kAccSynthetic) == 0 || name.starts_with("lambda$");
}

}  // namespace classfile
