package netscape.util;

import java.util.ArrayList;

/**
 * The list the agent fills. Like Hashtable, it works on instances made by JNI
 * AllocObject: the backing list is made on first use.
 */
public class Vector {
  private ArrayList<Object> items;

  private ArrayList<Object> items() {
    if (items == null) {
      items = new ArrayList<>();
    }
    return items;
  }

  public void addElement(Object item) {
    items().add(item);
  }

  public Object elementAt(int index) {
    return items().get(index);
  }

  public int count() {
    return items().size();
  }

  /** [item, ...] in order. */
  @Override
  public String toString() {
    return items().toString();
  }
}
