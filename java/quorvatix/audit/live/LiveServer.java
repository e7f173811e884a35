package quorvatix.audit.live;

import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.security.SecureRandom;
import java.util.concurrent.atomic.AtomicReference;
import quorvatix.audit.CoverMain;

/**
 * The live coverage viewer's entry point, called once by the runtime when the
 * agent's Java side has started (option {@code live} or {@code live=[HOST:]PORT}).
 *
 * <p>The server runs on daemon threads of the JVM's own "system" thread group,
 * each registered as an audit thread: pausing the program never pauses the
 * viewer, and the program's thread groups gain no thread. It prints one line on
 * standard error, its URL with the access token, and nothing on standard output.
 * This class names no type of jdk.httpserver, so that a JVM without that module
 * gets a clear message instead of a linkage error.
 */
public final class LiveServer {
  private static final AtomicReference<Object> started = new AtomicReference<>();

  private LiveServer() {}

  /** Binds and starts the viewer; says on standard error why when it can't. */
  public static void start(String host, int port) {
    if (!started.compareAndSet(null, Boolean.TRUE)) {
      return;
    }
    if (ModuleLayer.boot().findModule("jdk.httpserver").isEmpty()) {
      System.err.println("ccover live: the JDK module jdk.httpserver is not available "
          + "(add --add-modules jdk.httpserver); the viewer is not started");
      return;
    }
    // The server is made on a thread of the system group: the threads it makes
    // itself (its dispatcher, its timer) inherit that group and its daemon status.
    AtomicReference<Object> result = new AtomicReference<>();
    Thread starter = new Thread(systemGroup(), () -> {
      CoverMain.registerAuditThread();
      try {
        result.set(open(host, port));
      } catch (Throwable t) {
        result.set(t);
      }
    }, "ccover-live-start");
    starter.setDaemon(true);
    starter.start();
    boolean interrupted = false;
    while (starter.isAlive()) {
      try {
        starter.join();
      } catch (InterruptedException e) {
        interrupted = true;
      }
    }
    if (interrupted) {
      Thread.currentThread().interrupt();
    }
    Object outcome = result.get();
    if (outcome instanceof String) {
      System.err.println("ccover live: " + outcome);
      System.err.flush();
    } else {
      Throwable t = (Throwable) outcome;
      String reason = t instanceof IOException && t.getMessage() != null ? t.getMessage()
                                                                          : String.valueOf(t);
      System.err.println("ccover live: cannot listen on " + hostForUrl(host) + ":" + port + ": "
          + reason + "; the viewer is not started");
      System.err.flush();
    }
  }

  /** Opens the server; returns the URL to print. */
  private static String open(String host, int port) throws IOException {
    InetAddress address = InetAddress.getByName(host);
    byte[] secret = new byte[16];
    new SecureRandom().nextBytes(secret);
    StringBuilder token = new StringBuilder();
    for (byte b : secret) {
      token.append(Character.forDigit((b >> 4) & 15, 16)).append(Character.forDigit(b & 15, 16));
    }
    Access access = new Access(host, address, token.toString());
    int boundPort = Viewer.open(new InetSocketAddress(address, port), access, systemGroup());
    access.setPort(boundPort);
    String shownHost = address.isAnyLocalAddress() ? InetAddress.getLocalHost().getHostName()
                                                   : hostForUrl(host);
    // On loopback the page itself needs no token, so it travels in the fragment,
    // which the browser never sends; elsewhere every request carries it.
    String url = "http://" + shownHost + ":" + boundPort + "/"
        + (access.loopback() ? "#token=" : "?token=") + token;
    return url;
  }

  static String hostForUrl(String host) {
    return host.indexOf(':') >= 0 ? "[" + host + "]" : host;
  }

  static ThreadGroup systemGroup() {
    ThreadGroup group = Thread.currentThread().getThreadGroup();
    while (group.getParent() != null) {
      group = group.getParent();
    }
    return group;
  }
}
