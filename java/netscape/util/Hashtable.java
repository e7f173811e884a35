package netscape.util;

import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.LinkedHashMap;
import java.util.List;

/**
 * The answer table the agent fills. The agent creates instances with JNI
 * AllocObject, so no constructor or field initialiser may be relied on: the
 * backing collections are made on first use. Keys keep the order of their first
 * put; every put is also logged, duplicates included.
 */
public class Hashtable {
  private LinkedHashMap<Object, Object> map;
  private ArrayList<Object> puts;

  private LinkedHashMap<Object, Object> map() {
    if (map == null) {
      map = new LinkedHashMap<>();
    }
    return map;
  }

  private ArrayList<Object> puts() {
    if (puts == null) {
      puts = new ArrayList<>();
    }
    return puts;
  }

  /** Stores value under key and returns the value it replaces (null if none). */
  public Object put(Object key, Object value) {
    puts().add(key);
    return map().put(key, value);
  }

  public Object get(Object key) {
    return map().get(key);
  }

  public int count() {
    return map().size();
  }

  /** The keys in the order of their first put. */
  public Enumeration<Object> keys() {
    return Collections.enumeration(new ArrayList<>(map().keySet()));
  }

  /** Every key put so far, in put order, duplicates included. */
  public List<Object> putLog() {
    return Collections.unmodifiableList(new ArrayList<>(puts()));
  }

  /** {key=value, ...} in the order of the first put of each key. */
  @Override
  public String toString() {
    return map().toString();
  }
}
