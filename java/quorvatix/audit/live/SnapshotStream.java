package quorvatix.audit.live;

import com.sun.net.httpserver.Headers;
import com.sun.net.httpserver.HttpExchange;
import java.io.IOException;
import java.io.OutputStream;
import quorvatix.audit.CoverReporter;

/**
 * Streams a remote snapshot into an HTTP answer as the agent hands it over:
 * the headers go out when the agent opens the transfer (the file is complete
 * by then, so a failure before that still gets an error answer), each chunk is
 * written as it comes (chunked transfer: the size is not known up front), and
 * each chunk's progress is published for the page. A write that fails (the
 * client went away) throws, which stops the agent's transfer.
 */
final class SnapshotStream extends CoverReporter {
  private final HttpExchange exchange;
  private final String fileName;
  private final Viewer viewer;
  private boolean opened;

  SnapshotStream(HttpExchange exchange, String fileName, Viewer viewer) {
    this.exchange = exchange;
    this.fileName = fileName;
    this.viewer = viewer;
  }

  String fileName() {
    return fileName;
  }

  boolean opened() {
    return opened;
  }

  @Override
  public void openRemotely(String name, OutputStream out) {
    Headers h = exchange.getResponseHeaders();
    h.set("Content-Type", "application/octet-stream");
    h.set("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
    Viewer.commonHeaders(h);
    try {
      exchange.sendResponseHeaders(200, 0);
    } catch (IOException e) {
      throw new RuntimeException(e);
    }
    opened = true;
  }

  @Override
  public void writeRemotely(byte[] chunk, int length, int progress, OutputStream out) {
    super.writeRemotely(chunk, length, progress, out);
    viewer.reportProgress(progress);
  }
}
