package quorvatix.audit.live;

import java.util.ArrayList;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import netscape.util.Hashtable;
import netscape.util.Vector;
import quorvatix.audit.CoverMain;

/**
 * What the viewer knows of the program: every class the agent has described,
 * and the latest figures of each. The agent's answers are drained once, here,
 * and kept: each class-info answer takes classes off the agent's queue and each
 * all-class coverage answer reports only the classes touched since the last
 * one, so several pages (and reloads) can only be served from a copy. Every
 * change is stamped with a version; a page asks for what changed since the
 * version it holds and merges it into its own copy.
 *
 * <p>Every call into the agent's answers goes through this object's lock, so
 * that they never run at once; the class IDs passed to the method answers are
 * only ever those of loaded classes the agent described itself.
 */
final class CoverageModel {
  static final class ClassEntry {
    final int id;
    final String name;
    final String source;
    final String kind;  // "class", "interface" or "unloaded"
    final int lines;
    final int[] methods;
    final long stamp;

    ClassEntry(int id, String name, String source, String kind, int lines, int[] methods,
        long stamp) {
      this.id = id;
      this.name = name;
      this.source = source;
      this.kind = kind;
      this.lines = lines;
      this.methods = methods;
      this.stamp = stamp;
    }
  }

  static final class Figures {
    int coverage;
    int sinceMark;
    int atMark;
    int missed = -1;  // -1: the class has no line slots
    int missedSinceMark = -1;
    long stamp;
  }

  private final Map<Integer, ClassEntry> classes = new LinkedHashMap<>();
  private final Map<Integer, Figures> figures = new HashMap<>();
  private long version;
  private int pausedThreads;
  private int marks;

  /** Takes what the agent has queued since the last refresh. */
  synchronized void refresh() {
    while (CoverMain.hasNewClasses()) {
      Hashtable answer = new Hashtable();
      CoverMain.fillClassInfoAnswer(answer);
      if (answer.count() == 0) {
        break;
      }
      version++;
      for (Enumeration<Object> keys = answer.keys(); keys.hasMoreElements();) {
        Object key = keys.nextElement();
        addClass(Integer.parseInt((String) key), (Hashtable) answer.get(key));
      }
    }
    Hashtable answer = new Hashtable();
    CoverMain.fillAllClassCoverageAnswer(answer);
    storeFigures(answer);
  }

  /**
   * Asks for the figures of every loaded class. A snapshot brings the figures
   * of queued classes up to date and takes them off the agent's queue, so
   * after one the viewer asks for all of them rather than lose those changes.
   */
  synchronized void refreshAllClasses() {
    refresh();
    List<Integer> ids = new ArrayList<>();
    for (ClassEntry c : classes.values()) {
      if (c.kind.equals("class")) {
        ids.add(c.id);
      }
    }
    int[] request = new int[ids.size()];
    for (int i = 0; i < request.length; i++) {
      request[i] = ids.get(i);
    }
    Hashtable answer = new Hashtable();
    CoverMain.fillClassCoverageAnswer(answer, request);
    storeFigures(answer);
  }

  synchronized void mark() {
    CoverMain.markClasses();
    marks++;
    refresh();
  }

  synchronized int pause() {
    int n = CoverMain.pauseAllThreads();
    if (n > 0) {
      pausedThreads += n;
    }
    version++;
    return n;
  }

  synchronized int resume() {
    int n = CoverMain.resumeAllThreads();
    if (n >= 0) {
      pausedThreads = 0;
    }
    version++;
    return n;
  }

  /** The loaded class of this ID, or null (unknown, an interface, not loaded). */
  synchronized ClassEntry loadedClass(int id) {
    ClassEntry c = classes.get(id);
    return c != null && c.kind.equals("class") ? c : null;
  }

  /** Everything that changed after version since (all of it for since 0). */
  synchronized void writeState(Json json, long since, String machine) {
    json.open().key("version").value(version).key("machine").value(machine)
        .key("pausedThreads").value(pausedThreads).key("marks").value(marks);
    json.key("classes").openArray();
    for (ClassEntry c : classes.values()) {
      if (c.stamp > since) {
        json.open().key("id").value(c.id).key("name").value(c.name).key("source").value(c.source)
            .key("kind").value(c.kind).key("lines").value(c.lines).key("methods").values(c.methods)
            .close();
      }
    }
    json.closeArray().key("coverage").openArray();
    for (Map.Entry<Integer, Figures> e : figures.entrySet()) {
      Figures f = e.getValue();
      if (f.stamp > since) {
        json.open().key("id").value(e.getKey()).key("c").value(f.coverage).key("cd")
            .value(f.sinceMark).key("cm").value(f.atMark);
        if (f.missed >= 0) {
          json.key("ml").value(f.missed).key("mld").value(f.missedSinceMark);
        }
        json.close();
      }
    }
    json.closeArray().close();
  }

  /** The methods of a loaded class with their figures, in the class's order. */
  synchronized void writeMethods(Json json, ClassEntry c) {
    Hashtable answer = new Hashtable();
    CoverMain.fillMethodInfoAnswer(answer, new int[] {c.id});
    json.open().key("id").value(c.id).key("name").value(c.name).key("methods").openArray();
    for (int methodId : c.methods) {
      Hashtable m = (Hashtable) answer.get(Integer.toString(methodId));
      if (m == null) {
        continue;
      }
      json.open().key("id").value(methodId).key("name").value(text(m, "n"))
          .key("signature").value(text(m, "s")).key("entries").value(number(m, "i", 0))
          .key("entriesAtMark").value(number(m, "im", 0));
      if (m.get("c") != null) {
        json.key("coverage").value(text(m, "c")).key("coverageSinceMark").value(text(m, "cd"))
            .key("missed").value(number(m, "ml", 0)).key("missedSinceMark")
            .value(number(m, "mld", 0)).key("lines").values(numbers(m.get("l")))
            .key("hits").values(numbers(m.get("cpl"))).key("hitsAtMark")
            .values(numbers(m.get("cplm")));
      }
      json.close();
    }
    json.closeArray().close();
  }

  private void addClass(int id, Hashtable info) {
    String kind;
    if (info.get("u") != null) {
      kind = "unloaded";
    } else if (info.get("l") != null) {
      kind = "class";
    } else {
      kind = "interface";
    }
    classes.put(id, new ClassEntry(id, text(info, "n"), text(info, "s"), kind,
        number(info, "l", 0), numbers(info.get("m")), version));
  }

  private void storeFigures(Hashtable answer) {
    if (answer.count() == 0) {
      return;
    }
    version++;
    for (Enumeration<Object> keys = answer.keys(); keys.hasMoreElements();) {
      Object key = keys.nextElement();
      Hashtable t = (Hashtable) answer.get(key);
      int id = Integer.parseInt((String) key);
      Figures f = figures.get(id);
      if (f == null) {
        f = new Figures();
        figures.put(id, f);
      }
      f.coverage = number(t, "c", 0);
      f.sinceMark = number(t, "cd", 0);
      f.atMark = number(t, "cm", 0);
      f.missed = number(t, "ml", -1);
      f.missedSinceMark = number(t, "mld", -1);
      f.stamp = version;
    }
  }

  private static String text(Hashtable t, String key) {
    Object v = t.get(key);
    return v == null ? null : v.toString();
  }

  private static int number(Hashtable t, String key, int absent) {
    Object v = t.get(key);
    return v == null ? absent : Integer.parseInt(v.toString());
  }

  private static int[] numbers(Object vector) {
    if (!(vector instanceof Vector)) {
      return new int[0];
    }
    Vector v = (Vector) vector;
    int[] result = new int[v.count()];
    for (int i = 0; i < result.length; i++) {
      result[i] = Integer.parseInt(v.elementAt(i).toString());
    }
    return result;
  }
}
