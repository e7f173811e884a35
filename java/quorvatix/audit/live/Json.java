package quorvatix.audit.live;

/** A JSON text built in order: objects, arrays, strings, numbers and booleans. */
final class Json {
  private final StringBuilder out = new StringBuilder();
  // Whether the next value or key at the current depth needs a comma first.
  private boolean needComma;

  Json open() {
    comma();
    out.append('{');
    needComma = false;
    return this;
  }

  Json close() {
    out.append('}');
    needComma = true;
    return this;
  }

  Json openArray() {
    comma();
    out.append('[');
    needComma = false;
    return this;
  }

  Json closeArray() {
    out.append(']');
    needComma = true;
    return this;
  }

  Json key(String name) {
    comma();
    string(name);
    out.append(':');
    needComma = false;
    return this;
  }

  Json value(String text) {
    comma();
    if (text == null) {
      out.append("null");
    } else {
      string(text);
    }
    needComma = true;
    return this;
  }

  Json value(long number) {
    comma();
    out.append(number);
    needComma = true;
    return this;
  }

  Json value(boolean flag) {
    comma();
    out.append(flag);
    needComma = true;
    return this;
  }

  Json values(int[] numbers) {
    openArray();
    for (int n : numbers) {
      value(n);
    }
    return closeArray();
  }

  private void comma() {
    if (needComma) {
      out.append(',');
    }
  }

  private void string(String text) {
    out.append('"');
    for (int i = 0; i < text.length(); i++) {
      char c = text.charAt(i);
      if (c == '"' || c == '\\') {
        out.append('\\').append(c);
      } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x2028 || c == 0x2029) {
        // Control characters must be escaped; markup characters are, so that
        // no answer can be mistaken for a page.
        out.append(String.format("\\u%04x", (int) c));
      } else {
        out.append(c);
      }
    }
    out.append('"');
  }

  @Override
  public String toString() {
    return out.toString();
  }

  static String error(String message) {
    return new Json().open().key("error").value(message).close().toString();
  }
}
