package quorvatix.audit.live;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Base64;

/**
 * The viewer's one page (page.html beside this class in the jar), with its
 * script and style inline, and the Content-Security-Policy that allows exactly
 * those two blocks, by hash, and requests to this server: nothing else may run,
 * load or be framed.
 */
final class Page {
  private final byte[] bytes;
  private final String policy;

  private Page(byte[] bytes, String policy) {
    this.bytes = bytes;
    this.policy = policy;
  }

  byte[] bytes() {
    return bytes;
  }

  String policy() {
    return policy;
  }

  static Page load() throws IOException {
    byte[] bytes;
    try (InputStream in = Page.class.getResourceAsStream("page.html")) {
      if (in == null) {
        throw new IOException("page.html is missing from the jar");
      }
      ByteArrayOutputStream out = new ByteArrayOutputStream();
      in.transferTo(out);
      bytes = out.toByteArray();
    }
    String html = new String(bytes, StandardCharsets.UTF_8);
    String policy = "default-src 'none'; script-src " + hashOf(html, "script") + "; style-src "
        + hashOf(html, "style") + "; connect-src 'self'; img-src 'self' data:; base-uri 'none'; "
        + "form-action 'none'; frame-ancestors 'none'";
    return new Page(bytes, policy);
  }

  /** 'sha256-...' of the text of the one <tag> block of the page. */
  private static String hashOf(String html, String tag) throws IOException {
    int open = html.indexOf("<" + tag + ">");
    int close = html.indexOf("</" + tag + ">");
    if (open < 0 || close < open || html.indexOf("<" + tag + ">", open + 1) >= 0) {
      throw new IOException("page.html must hold exactly one <" + tag + "> block");
    }
    String text = html.substring(open + tag.length() + 2, close);
    try {
      byte[] digest = MessageDigest.getInstance("SHA-256")
          .digest(text.getBytes(StandardCharsets.UTF_8));
      return "'sha256-" + Base64.getEncoder().encodeToString(digest) + "'";
    } catch (NoSuchAlgorithmException e) {
      throw new IOException(e);
    }
  }
}
