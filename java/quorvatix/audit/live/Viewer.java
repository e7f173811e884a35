package quorvatix.audit.live;

import com.sun.net.httpserver.Headers;
import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.nio.charset.StandardCharsets;
import java.text.SimpleDateFormat;
import java.util.Date;
import java.util.HashMap;
import java.util.Map;
import java.util.concurrent.Executor;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.ReentrantLock;
import quorvatix.audit.CoverMain;

/**
 * The HTTP side of the viewer: one page and a few JSON answers.
 *
 * <pre>
 * GET  /                         the page
 * GET  /api/state?since=V        classes and figures changed after version V
 * GET  /api/methods?class=ID     the methods of a loaded class, with their figures
 * GET  /api/snapshot/progress    the progress of the snapshot being sent (or the last one)
 * POST /api/mark                 set the baseline               {"marked":true}
 * POST /api/pause                suspend the program's threads  {"paused":N}
 * POST /api/resume               resume them                    {"resumed":N}
 * POST /api/snapshot             the snapshot file, streamed as the agent writes it
 * </pre>
 *
 * <p>Every request is bracketed by willProcessAuditRequest and
 * didProcessAuditRequest. A request that is not understood gets a 4xx answer
 * and reaches no native method; a failure inside one gets a 500 and is never
 * thrown at the program.
 */
final class Viewer {
  private static final int MAX_BODY = 4096;
  private static final String API_POLICY =
      "default-src 'none'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

  private final Access access;
  private final CoverageModel model = new CoverageModel();
  private final Page page;
  private final String machine;
  private final ReentrantLock snapshotLock = new ReentrantLock();
  private volatile int snapshotProgress = -1;  // -1: none taken yet
  private volatile boolean snapshotRunning;

  private Viewer(Access access, Page page, String machine) {
    this.access = access;
    this.page = page;
    this.machine = machine;
  }

  /** Binds, starts serving, and returns the port bound. */
  static int open(InetSocketAddress address, Access access, ThreadGroup group) throws IOException {
    Viewer viewer = new Viewer(access, Page.load(), CoverMain.machineID());
    viewer.model.refresh();
    HttpServer server = HttpServer.create(address, 64);
    server.createContext("/", viewer::handle);
    server.setExecutor(newExecutor(group));
    server.start();
    return server.getAddress().getPort();
  }

  /**
   * Daemon threads of the system group, registered as audit threads. The
   * server's dispatcher thread hands every exchange to execute(), so it is
   * registered there, on its first request.
   */
  private static Executor newExecutor(ThreadGroup group) {
    AtomicInteger count = new AtomicInteger();
    ThreadPoolExecutor pool = new ThreadPoolExecutor(4, 4, 60, TimeUnit.SECONDS,
        new LinkedBlockingQueue<>(), r -> {
          Thread t = new Thread(group, () -> {
            CoverMain.registerAuditThread();
            r.run();
          }, "ccover-live-" + count.incrementAndGet());
          t.setDaemon(true);
          return t;
        });
    ThreadLocal<Boolean> registered = new ThreadLocal<>();
    return task -> {
      if (registered.get() == null) {
        CoverMain.registerAuditThread();
        registered.set(Boolean.TRUE);
      }
      pool.execute(task);
    };
  }

  private void handle(HttpExchange exchange) {
    CoverMain.willProcessAuditRequest();
    try {
      route(exchange);
    } catch (Throwable t) {
      try {
        send(exchange, 500, Json.error("internal error: " + t));
      } catch (Throwable ignored) {
        // The answer had begun, or the connection is gone: nothing more to say.
      }
    } finally {
      exchange.close();
      CoverMain.didProcessAuditRequest();
    }
  }

  private void route(HttpExchange exchange) throws IOException {
    Headers headers = exchange.getRequestHeaders();
    String host = headers.getFirst("Host");
    String why = access.checkHost(host);
    if (why == null) {
      why = Access.checkOrigin(headers.getFirst("Origin"), host);
    }
    if (why != null) {
      send(exchange, host == null ? 400 : 403, Json.error(why));
      return;
    }
    if (!drainBody(exchange)) {
      send(exchange, 413, Json.error("a request body is limited to " + MAX_BODY + " bytes"));
      return;
    }
    String path = exchange.getRequestURI().getRawPath();
    Map<String, String> query = parseQuery(exchange.getRequestURI().getRawQuery());
    if (query == null) {
      send(exchange, 400, Json.error("malformed query"));
      return;
    }
    String method = exchange.getRequestMethod();
    boolean post = path.equals("/api/mark") || path.equals("/api/pause")
        || path.equals("/api/resume") || path.equals("/api/snapshot");
    boolean get = path.equals("/") || path.equals("/api/state") || path.equals("/api/methods")
        || path.equals("/api/snapshot/progress");
    if (!post && !get) {
      send(exchange, 404, Json.error("no such page"));
      return;
    }
    if (!method.equals(post ? "POST" : "GET")) {
      exchange.getResponseHeaders().set("Allow", post ? "POST" : "GET");
      send(exchange, 405, Json.error(path + " takes " + (post ? "POST" : "GET")));
      return;
    }
    String token = headers.getFirst(Access.TOKEN_HEADER);
    if (token == null && path.equals("/") && !post) {
      token = query.remove("token");
    }
    if ((post || !access.loopback()) && !access.tokenMatches(token)) {
      send(exchange, 403, Json.error(token == null ? "missing " + Access.TOKEN_HEADER
                                                   : "wrong token"));
      return;
    }
    switch (path) {
      case "/":
        if (!expectParams(exchange, query)) {
          return;
        }
        sendPage(exchange);
        return;
      case "/api/state":
        state(exchange, query);
        return;
      case "/api/methods":
        methods(exchange, query);
        return;
      case "/api/snapshot/progress":
        if (expectParams(exchange, query)) {
          send(exchange, 200, progressJson());
        }
        return;
      default:
        break;
    }
    if (!expectParams(exchange, query)) {
      return;
    }
    switch (path) {
      case "/api/mark":
        model.mark();
        send(exchange, 200, "{\"marked\":true}");
        return;
      case "/api/pause":
        send(exchange, 200, new Json().open().key("paused").value(model.pause()).close().toString());
        return;
      case "/api/resume":
        send(exchange, 200,
            new Json().open().key("resumed").value(model.resume()).close().toString());
        return;
      default:
        snapshot(exchange);
    }
  }

  private void state(HttpExchange exchange, Map<String, String> query) throws IOException {
    long since = 0;
    String text = query.remove("since");
    if (text != null) {
      since = parseNumber(text, Long.MAX_VALUE);
      if (since < 0) {
        send(exchange, 400, Json.error("since must be a version number"));
        return;
      }
    }
    if (!expectParams(exchange, query)) {
      return;
    }
    model.refresh();
    Json json = new Json();
    model.writeState(json, since, machine);
    send(exchange, 200, json.toString());
  }

  private void methods(HttpExchange exchange, Map<String, String> query) throws IOException {
    String text = query.remove("class");
    if (text == null || !expectParams(exchange, query)) {
      if (text == null) {
        send(exchange, 400, Json.error("class=ID is required"));
      }
      return;
    }
    long id = parseNumber(text, Integer.MAX_VALUE);
    if (id < 0) {
      send(exchange, 400, Json.error("class must be a class ID"));
      return;
    }
    CoverageModel.ClassEntry c = model.loadedClass((int) id);
    if (c == null) {
      send(exchange, 404, Json.error("no loaded class has ID " + id));
      return;
    }
    Json json = new Json();
    model.writeMethods(json, c);
    send(exchange, 200, json.toString());
  }

  private void snapshot(HttpExchange exchange) throws IOException {
    if (!snapshotLock.tryLock()) {
      send(exchange, 409, Json.error("busy: another snapshot is being sent; try again when it ends"));
      return;
    }
    snapshotRunning = true;
    snapshotProgress = 0;
    SnapshotStream stream = new SnapshotStream(exchange, fileName(), this);
    try {
      // Drain first: the snapshot takes queued classes off the agent's queue.
      model.refresh();
      boolean ok;
      try {
        ok = CoverMain.generateSnapshot(stream.fileName(), null, "live snapshot from "
            + machine, stream, exchange.getResponseBody(), false);
      } catch (RuntimeException e) {
        ok = false;  // the reporter's write failed: the client went away
      }
      if (!ok && !stream.opened()) {
        send(exchange, 500, Json.error("the agent could not write the snapshot"));
      }
    } finally {
      snapshotRunning = false;
      model.refreshAllClasses();
      snapshotLock.unlock();
    }
  }

  void reportProgress(int progress) {
    snapshotProgress = progress;
  }

  private String progressJson() {
    return new Json().open().key("running").value(snapshotRunning).key("progress")
        .value(snapshotProgress).close().toString();
  }

  private String fileName() {
    String safeMachine = machine.replaceAll("[^A-Za-z0-9._-]", "_");
    return "coverage-" + safeMachine + "-" + new SimpleDateFormat("yyyyMMdd-HHmmss").format(new Date())
        + ".snp";
  }

  private void sendPage(HttpExchange exchange) throws IOException {
    Headers h = exchange.getResponseHeaders();
    h.set("Content-Type", "text/html; charset=utf-8");
    commonHeaders(h);
    h.set("Content-Security-Policy", page.policy());
    byte[] body = page.bytes();
    exchange.sendResponseHeaders(200, body.length);
    try (OutputStream out = exchange.getResponseBody()) {
      out.write(body);
    }
  }

  static void commonHeaders(Headers h) {
    h.set("Cache-Control", "no-store");
    h.set("X-Content-Type-Options", "nosniff");
    h.set("Referrer-Policy", "no-referrer");
    h.set("X-Frame-Options", "DENY");
    h.set("Cross-Origin-Resource-Policy", "same-origin");
    if (!h.containsKey("Content-Security-Policy")) {
      h.set("Content-Security-Policy", API_POLICY);
    }
  }

  private static void send(HttpExchange exchange, int status, String json) throws IOException {
    Headers h = exchange.getResponseHeaders();
    h.set("Content-Type", "application/json; charset=utf-8");
    commonHeaders(h);
    byte[] body = json.getBytes(StandardCharsets.UTF_8);
    exchange.sendResponseHeaders(status, body.length);
    try (OutputStream out = exchange.getResponseBody()) {
      out.write(body);
    }
  }

  private static boolean expectParams(HttpExchange exchange, Map<String, String> rest)
      throws IOException {
    if (rest.isEmpty()) {
      return true;
    }
    send(exchange, 400, Json.error("unknown parameter " + rest.keySet().iterator().next()));
    return false;
  }

  /** Reads and drops a small body; false when it is too large. */
  private static boolean drainBody(HttpExchange exchange) throws IOException {
    String length = exchange.getRequestHeaders().getFirst("Content-Length");
    if (length != null && parseNumber(length, MAX_BODY) < 0) {
      return false;
    }
    InputStream in = exchange.getRequestBody();
    byte[] buffer = new byte[1024];
    int total = 0;
    for (int n; (n = in.read(buffer)) > 0;) {
      total += n;
      if (total > MAX_BODY) {
        return false;
      }
    }
    return true;
  }

  /** a=1&b=2 with plain names and values; null when malformed or repeated. */
  static Map<String, String> parseQuery(String raw) {
    Map<String, String> result = new HashMap<>();
    if (raw == null || raw.isEmpty()) {
      return result;
    }
    for (String pair : raw.split("&", -1)) {
      int eq = pair.indexOf('=');
      if (eq <= 0) {
        return null;
      }
      String name = pair.substring(0, eq);
      String value = pair.substring(eq + 1);
      if (!name.matches("[a-z]{1,16}") || !value.matches("[A-Za-z0-9]{0,64}")
          || result.put(name, value) != null) {
        return null;
      }
    }
    return result;
  }

  /** A decimal number from 0 to max, or -1. */
  static long parseNumber(String text, long max) {
    if (text.isEmpty() || text.length() > 19) {
      return -1;
    }
    long value = 0;
    for (int i = 0; i < text.length(); i++) {
      char c = text.charAt(i);
      if (c < '0' || c > '9') {
        return -1;
      }
      value = value * 10 + (c - '0');
      if (value > max) {
        return -1;
      }
    }
    return value;
  }
}
