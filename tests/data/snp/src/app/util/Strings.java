package app.util;

public final class Strings {
  static String join(String... parts) {
    StringBuilder b = new StringBuilder();
    for (String p : parts) b.append(p);
    return b.toString();
  }

  static native int hash0();
}
