package quorvatix.cci;

import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

/**
 * What the runtime does in Java at VM init: naming the main class of a jar, and
 * starting the coverage agent's Java side. Nothing here runs while classes load.
 */
public final class Bootstrap {
  private Bootstrap() {}

  /** The Main-Class of a jar, or null. */
  public static String mainClassOfJar(String path) {
    try (JarFile jar = new JarFile(path)) {
      Manifest manifest = jar.getManifest();
      return manifest == null ? null : manifest.getMainAttributes().getValue("Main-Class");
    } catch (Exception e) {
      return null;
    }
  }

  /** Starts the agent's Java side, as quorvatix.audit.CoverMain.main would. */
  public static void startAgent(boolean ignoreShutdown, boolean snapshotAtExit) throws Exception {
    Class<?> coverMain =
        Class.forName("quorvatix.audit.CoverMain", true, ClassLoader.getSystemClassLoader());
    Method start = coverMain.getMethod("start", Object.class, boolean.class, boolean.class);
    start.invoke(null, null, ignoreShutdown, snapshotAtExit);
  }

  /**
   * Starts the live coverage viewer, quorvatix.audit.live.LiveServer from the
   * jar that holds the agent's CoverMain, in a class loader of its own: the
   * viewer's classes are defined there and never by the program's loaders,
   * while CoverMain, CoverReporter and netscape.util, which the agent is bound
   * to, still come from the loader that holds CoverMain. Reports a failure on
   * standard error and returns normally.
   */
  public static void startLive(String host, int port) {
    try {
      Class<?> coverMain =
          Class.forName("quorvatix.audit.CoverMain", false, ClassLoader.getSystemClassLoader());
      java.security.CodeSource source = coverMain.getProtectionDomain().getCodeSource();
      if (source == null || source.getLocation() == null) {
        System.err.println("cci: cannot start the live viewer: the jar of "
            + "quorvatix.audit.CoverMain is unknown");
        return;
      }
      ClassLoader loader = new ViewerLoader(source.getLocation(), coverMain.getClassLoader());
      Class<?> server = Class.forName(VIEWER_PACKAGE + "LiveServer", true, loader);
      server.getMethod("start", String.class, int.class).invoke(null, host, port);
    } catch (java.lang.reflect.InvocationTargetException e) {
      System.err.println("cci: cannot start the live viewer: " + e.getCause());
    } catch (Exception | LinkageError e) {
      System.err.println("cci: cannot start the live viewer: " + e);
    }
  }

  private static final String VIEWER_PACKAGE = "quorvatix.audit.live.";

  /** Defines the viewer's package itself (child first) and delegates the rest. */
  private static final class ViewerLoader extends URLClassLoader {
    ViewerLoader(URL jar, ClassLoader parent) {
      super("ccover-live", new URL[] {jar}, parent);
    }

    @Override
    protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
      if (!name.startsWith(VIEWER_PACKAGE)) {
        return super.loadClass(name, resolve);
      }
      synchronized (getClassLoadingLock(name)) {
        Class<?> c = findLoadedClass(name);
        if (c == null) {
          c = findClass(name);
        }
        if (resolve) {
          resolveClass(c);
        }
        return c;
      }
    }
  }
}
