package demo;

/** Word counting. */
public final class Words {
  private Words() {}

  public static int count(String text) {
    int n = 0;
    boolean inWord = false;
    for (int i = 0; i < text.length(); i++) {
      boolean letter = !Character.isWhitespace(text.charAt(i));
      if (letter && !inWord) {
        n++;
      }
      inWord = letter;
    }
    return n;
  }
}
