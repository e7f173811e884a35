import netscape.util.Hashtable;
import quorvatix.audit.CoverMain;

/**
 * Drives the agent through the phases of a run while the program counts: the
 * class answers after a first phase, a mark, the class and method answers
 * after a second, a snapshot (to the file named by the first argument), a
 * third phase and the snapshot at exit. Prints every answer about its own
 * classes, so that two runs can be compared line by line.
 */
public final class Phases {
  private Phases() {}

  static final class Work {
    private Work() {}

    static int loop(int n) {
      int sum = 0;
      for (int i = 0; i < n; i++) {
        sum += step(i);
      }
      return sum;
    }

    static int step(int i) {
      if (i % 3 == 0) {
        return 2;
      }
      return 1;
    }

    static int other(int n) {
      return n * 2;
    }
  }

  private static int workId;
  private static int[] workMethods;

  public static void main(String[] args) {
    int sum = Work.loop(10);
    classInfo();
    print("phase 1", sum);
    CoverMain.markClasses();
    sum = Work.loop(7) + Work.other(3);
    print("phase 2", sum);
    boolean written = CoverMain.generateSnapshot(args[0], null, "phases", null, null, true);
    System.out.println("snapshot " + written);
    sum = Work.loop(4);
    print("phase 3", sum);
  }

  // Finds Work's class and method IDs among the newly loaded classes.
  private static void classInfo() {
    while (CoverMain.hasNewClasses()) {
      Hashtable answer = new Hashtable();
      CoverMain.fillClassInfoAnswer(answer);
      if (answer.count() == 0) {
        break;
      }
      for (java.util.Enumeration<Object> keys = answer.keys(); keys.hasMoreElements();) {
        Object key = keys.nextElement();
        Hashtable info = (Hashtable) answer.get(key);
        if ("Phases$Work".equals(info.get("n"))) {
          workId = Integer.parseInt((String) key);
          System.out.println("class info " + info);
          Object methods = info.get("m");
          String text = String.valueOf(methods).replaceAll("[\\[\\] ]", "");
          String[] parts = text.split(",");
          workMethods = new int[parts.length];
          for (int i = 0; i < parts.length; i++) {
            workMethods[i] = Integer.parseInt(parts[i]);
          }
        }
      }
    }
  }

  private static void print(String phase, int sum) {
    Hashtable classes = new Hashtable();
    CoverMain.fillClassCoverageAnswer(classes, new int[] {workId});
    Hashtable all = new Hashtable();
    CoverMain.fillAllClassCoverageAnswer(all);
    Hashtable methods = new Hashtable();
    CoverMain.fillMethodCoverageAnswer(methods, new int[] {workId});
    Hashtable methodInfo = new Hashtable();
    CoverMain.fillMethodInfoAnswer(methodInfo, new int[] {workId});
    System.out.println(phase + " sum " + sum);
    System.out.println(phase + " class " + classes.get(String.valueOf(workId)));
    System.out.println(phase + " all " + all.get(String.valueOf(workId)));
    for (int id : workMethods) {
      System.out.println(phase + " method " + methods.get(String.valueOf(id)) + " "
          + methodInfo.get(String.valueOf(id)));
    }
  }
}
