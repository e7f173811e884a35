package app.gen;

import java.io.StringReader;

// try-with-resources and finally: javac copies the closing and the finally
// block onto every way out, so their lines carry several slots.
public class Resources {
  int read(String text) throws Exception {
    int n = 0;
    try (StringReader in = new StringReader(text)) {
      n = in.read();
    } finally {
      n++;
    }
    return n;
  }
}
