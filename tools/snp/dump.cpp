#include "tools/snp/dump.h"

#include <string>

#include "support/reader.h"
#include "tools/snp/text.h"

namespace {

const char* const kItemNames[] = {"SnapRoot", "Signature", "ClassRoot", "MethodRoot"};

void pad(std::ostream& out, int indent) {
  for (int i = 0; i < indent; i++) out << "  ";
}

std::string hex(const char* bytes, int32_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(static_cast<size_t>(count) * 2);
  for (int32_t i = 0; i < count; i++) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string keyText(const SEViewMember& m) {
  return jsonQuote(toUtf8(std::string(m.key, static_cast<size_t>(m.keyLength))));
}

// The held bytes of a string, without the one NUL that ends the agent's texts.
std::string heldText(const SEView* v) {
  size_t n = static_cast<size_t>(v->count);
  if (n > 0 && v->bytes[n - 1] == '\0') n--;
  return std::string(v->bytes, n);
}

bool isScalar(const SEView& v) {
  return v.kind == SE_INT32 || v.kind == SE_INT64 || v.kind == SE_STRING || v.kind == SE_BYTES;
}

void writeNumbers(const SEView* v, std::ostream& out) {
  out << '[';
  for (int32_t i = 0; i < v->count; i++) out << (i > 0 ? ", " : "") << v->numbers[i];
  out << ']';
}

void writeNamed(const SEView* v, int indent, std::ostream& out);

void writeValue(const SEView* v, int indent, std::ostream& out) {
  switch (v->kind) {
    case SE_INT32:
    case SE_INT64:
      out << v->number;
      return;
    case SE_STRING:
      out << jsonQuote(toUtf8(heldText(v)));
      return;
    case SE_BYTES:
      out << '"' << hex(v->bytes, v->count) << '"';
      return;
    case SE_INT32_ARRAY:
    case SE_INT64_ARRAY:
      writeNumbers(v, out);
      return;
    case SE_LIST: {
      bool flat = true;
      for (int32_t i = 0; i < v->count && flat; i++) flat = isScalar(v->items[i]);
      if (flat) {
        out << '[';
        for (int32_t i = 0; i < v->count; i++) {
          if (i > 0) out << ", ";
          writeValue(&v->items[i], indent, out);
        }
        out << ']';
        return;
      }
      out << "[\n";
      for (int32_t i = 0; i < v->count; i++) {
        pad(out, indent + 1);
        writeValue(&v->items[i], indent + 1, out);
        out << (i + 1 < v->count ? ",\n" : "\n");
      }
      pad(out, indent);
      out << ']';
      return;
    }
    case SE_NAMED:
      writeNamed(v, indent, out);
      return;
    default:
      out << "null";
  }
}

void writeNamed(const SEView* v, int indent, std::ostream& out) {
  if (v->count == 0) {
    out << "{}";
    return;
  }
  out << "{\n";
  for (int32_t i = 0; i < v->count; i++) {
    pad(out, indent + 1);
    out << keyText(v->members[i]) << ": ";
    writeValue(v->members[i].value, indent + 1, out);
    out << (i + 1 < v->count ? ",\n" : "\n");
  }
  pad(out, indent);
  out << '}';
}

// Raw form: every value an object that says what the file holds.
void writeRaw(const SEView* v, int indent, std::ostream& out) {
  out << "{\"offset\": " << v->offset << ", \"tag\": " << static_cast<int>(v->tag);
  switch (v->kind) {
    case SE_INT32:
    case SE_INT64:
      out << ", \"value\": " << v->number << '}';
      return;
    case SE_STRING:
      out << ", \"length\": " << v->count << ", \"text\": "
          << jsonQuote(toUtf8(std::string(v->bytes, static_cast<size_t>(v->count)))) << '}';
      return;
    case SE_BYTES:
      out << ", \"length\": " << v->count << ", \"hex\": \"" << hex(v->bytes, v->count) << "\"}";
      return;
    case SE_INT32_ARRAY:
    case SE_INT64_ARRAY:
      out << ", \"values\": ";
      writeNumbers(v, out);
      out << '}';
      return;
    default:
      break;
  }
  bool list = v->kind == SE_LIST;
  out << (list ? ", \"items\": [" : ", \"members\": [");
  if (v->count == 0) {
    out << "]}";
    return;
  }
  out << '\n';
  for (int32_t i = 0; i < v->count; i++) {
    pad(out, indent + 1);
    if (list) {
      writeRaw(&v->items[i], indent + 1, out);
    } else {
      out << "{\"key\": " << keyText(v->members[i]) << ", \"value\": ";
      writeRaw(v->members[i].value, indent + 1, out);
      out << '}';
    }
    out << (i + 1 < v->count ? ",\n" : "\n");
  }
  pad(out, indent);
  out << "]}";
}

}  // namespace

void writeDump(const SESnapshotView& view, bool raw, std::ostream& out) {
  // The end marker is not among the view's items; it sits in the last 5 bytes.
  size_t markerOffset = view.size >= 5 ? view.size - 5 : 0;
  if (raw) {
    out << "[\n";
    for (int32_t i = 0; i < view.count; i++) {
      pad(out, 1);
      writeRaw(&view.items[i], 1, out);
      out << ",\n";
    }
    pad(out, 1);
    out << "{\"offset\": " << markerOffset << ", \"tag\": 2, \"value\": " << kSESnapshotEndMarker
        << "}\n]\n";
    return;
  }
  out << "{\n";
  for (int32_t i = 0; i < view.count; i++) {
    pad(out, 1);
    if (i < 4) {
      out << '"' << kItemNames[i] << "\": ";
    } else {
      out << "\"Item" << (i + 1) << "\": ";
    }
    writeValue(&view.items[i], 1, out);
    out << ",\n";
  }
  pad(out, 1);
  out << "\"EndMarker\": " << kSESnapshotEndMarker << "\n}\n";
}
