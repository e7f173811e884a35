package netscape.util;

import java.util.ArrayList;

/** A Vector lacking count(), for the start-up failure that names it. */
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
}
