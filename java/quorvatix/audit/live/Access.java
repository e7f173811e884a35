package quorvatix.audit.live;

import java.net.InetAddress;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.util.Locale;

/**
 * Who may ask what. Every request: a Host header naming this server (defeats
 * DNS rebinding: a page of another site that resolves to this address still
 * sends its own name), and an Origin, when there is one, of this server's own
 * page (defeats cross-site requests). A request that changes state (mark,
 * pause, resume, snapshot) is a POST that carries the token in the
 * X-Ccover-Token header, which no cross-site form can send. When the server is
 * bound to an address other than loopback, every request carries the token
 * (the page request may carry it as ?token=).
 *
 * <p>Thread-safety: immutable once the port is set, before the first request.
 */
final class Access {
  static final String TOKEN_HEADER = "X-Ccover-Token";

  private final String host;
  private final boolean loopback;
  private final boolean wildcard;
  private final String address;
  private final byte[] token;
  private volatile int port;

  Access(String host, InetAddress bound, String token) {
    this.host = host.toLowerCase(Locale.ROOT);
    this.loopback = bound.isLoopbackAddress();
    this.wildcard = bound.isAnyLocalAddress();
    this.address = bound.getHostAddress().toLowerCase(Locale.ROOT);
    this.token = token.getBytes(StandardCharsets.US_ASCII);
  }

  void setPort(int port) {
    this.port = port;
  }

  boolean loopback() {
    return loopback;
  }

  /** Null when the Host header names this server, else why not. */
  String checkHost(String hostHeader) {
    if (hostHeader == null || hostHeader.isEmpty()) {
      return "missing Host header";
    }
    if (wildcard) {
      return null;  // any name the machine answers to; the token guards every request
    }
    String h = hostHeader.toLowerCase(Locale.ROOT);
    String suffix = ":" + port;
    if (!h.endsWith(suffix)) {
      return "Host " + hostHeader + " is not this server";
    }
    String name = h.substring(0, h.length() - suffix.length());
    if (name.startsWith("[") && name.endsWith("]")) {
      name = name.substring(1, name.length() - 1);
    }
    if (name.equals(host) || name.equals(address)) {
      return null;
    }
    if (loopback && (name.equals("localhost") || name.equals("127.0.0.1") || name.equals("::1"))) {
      return null;
    }
    return "Host " + hostHeader + " is not this server";
  }

  /** Null when there is no Origin or it is this server's page, else why not. */
  static String checkOrigin(String origin, String hostHeader) {
    if (origin == null) {
      return null;  // not sent by a browser's cross-origin request
    }
    if (origin.equalsIgnoreCase("http://" + hostHeader)) {
      return null;
    }
    return "Origin " + origin + " is not this server's page";
  }

  /** Whether the given token is this server's, compared in constant time. */
  boolean tokenMatches(String given) {
    return given != null
        && MessageDigest.isEqual(token, given.getBytes(StandardCharsets.US_ASCII));
  }
}
