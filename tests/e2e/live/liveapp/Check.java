package liveapp;

import java.lang.reflect.Method;

/**
 * What a program could notice of the viewer: the threads of its own thread
 * group, and whether its class loaders hold any class of the viewer. Needs
 * --add-opens java.base/java.lang=ALL-UNNAMED to ask a loader what it has loaded.
 */
final class Check {
  private Check() {}

  static String report() throws Exception {
    ThreadGroup group = Thread.currentThread().getThreadGroup();
    Thread[] threads = new Thread[group.activeCount() + 8];
    int n = group.enumerate(threads, true);
    StringBuilder out = new StringBuilder("threads");
    java.util.List<String> names = new java.util.ArrayList<>();
    for (int i = 0; i < n; i++) {
      names.add(threads[i].getName() + (threads[i].isDaemon() ? "(daemon)" : ""));
    }
    java.util.Collections.sort(names);
    for (String name : names) {
      out.append(' ').append(name);
    }
    Method findLoaded = ClassLoader.class.getDeclaredMethod("findLoadedClass", String.class);
    findLoaded.setAccessible(true);
    out.append("\nviewer classes on the program's loaders:");
    int found = 0;
    for (ClassLoader loader = Check.class.getClassLoader(); loader != null;
        loader = loader.getParent()) {
      for (String name : new String[] {"quorvatix.audit.live.LiveServer",
          "quorvatix.audit.live.Viewer", "quorvatix.audit.live.CoverageModel"}) {
        if (findLoaded.invoke(loader, name) != null) {
          out.append(' ').append(name).append('@').append(loader.getName());
          found++;
        }
      }
    }
    if (found == 0) {
      out.append(" none");
    }
    return out.toString();
  }
}
