package ccover.testing;

import java.io.OutputStream;
import java.util.ArrayList;
import java.util.List;
import quorvatix.audit.CoverReporter;

/**
 * A reporter that records every call ("open NAME", "write LENGTH PROGRESS",
 * "close") and then does what the base class does, so the bytes still reach the
 * stream.
 */
public class RecordingReporter extends CoverReporter {
  private final List<String> calls = new ArrayList<>();

  @Override
  public void openRemotely(String name, OutputStream out) {
    calls.add("open " + name);
    super.openRemotely(name, out);
  }

  @Override
  public void writeRemotely(byte[] chunk, int length, int progress, OutputStream out) {
    calls.add("write " + length + " " + progress + " " + chunk.length);
    super.writeRemotely(chunk, length, progress, out);
  }

  @Override
  public void closeRemotely(OutputStream out) {
    calls.add("close");
    super.closeRemotely(out);
  }

  public List<String> calls() {
    return calls;
  }

  /** The calls joined by newlines, for easy comparison from native code. */
  public String callText() {
    return String.join("\n", calls);
  }
}
