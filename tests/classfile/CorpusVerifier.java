import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;

/**
 * Loads and links every class file under a folder in a class loader of its
 * own (child first, so that the instrumented copy wins over any original on
 * the class path), with the JVM run under -Xverify:all, and the originals
 * likewise in another loader. Linking verifies; Class.getDeclaredFields makes
 * HotSpot link a class without initializing it.
 *
 * <p>Prints one line of counts. Exit code 1 on any VerifyError or
 * ClassFormatError of an instrumented class whose original verifies. Other
 * linkage errors (a JDK class that can't live outside its module, a
 * dependency that isn't on the class path) are counted apart.
 *
 * <p>Classes in java.* are left out: the JVM defines them only in its own
 * loaders.
 */
public final class CorpusVerifier {
  private CorpusVerifier() {}

  static final class ChildFirst extends ClassLoader {
    final Map<String, Path> files;

    ChildFirst(Map<String, Path> files, ClassLoader parent) {
      super(parent);
      this.files = files;
    }

    @Override
    protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
      synchronized (getClassLoadingLock(name)) {
        Class<?> c = findLoadedClass(name);
        if (c == null && files.containsKey(name)) {
          c = findClass(name);
        }
        if (c == null) {
          return super.loadClass(name, resolve);
        }
        return c;
      }
    }

    @Override
    protected Class<?> findClass(String name) throws ClassNotFoundException {
      Path file = files.get(name);
      if (file == null) {
        throw new ClassNotFoundException(name);
      }
      try {
        byte[] bytes = Files.readAllBytes(file);
        return defineClass(name, bytes, 0, bytes.length);
      } catch (IOException e) {
        throw new ClassNotFoundException(name, e);
      }
    }
  }

  /** Class name to file, for every class file under root but java.*. */
  static Map<String, Path> classesUnder(Path root, int[] javaClasses) throws IOException {
    Map<String, Path> files = new HashMap<>();
    try (Stream<Path> walk = Files.walk(root)) {
      for (Path p : (Iterable<Path>) walk::iterator) {
        String rel = root.relativize(p).toString().replace('\\', '/');
        if (!rel.endsWith(".class") || rel.endsWith("module-info.class")
            || rel.endsWith("package-info.class")) {
          continue;
        }
        String name = rel.substring(0, rel.length() - 6).replace('/', '.');
        if (name.startsWith("java.")) {
          javaClasses[0]++;
          continue;
        }
        files.put(name, p);
      }
    }
    return files;
  }

  /** null when the class links; else the error. */
  static Throwable link(ClassLoader loader, String name) {
    try {
      Class.forName(name, false, loader).getDeclaredFields();
      return null;
    } catch (LinkageError | ClassNotFoundException | SecurityException e) {
      return e;
    }
  }

  static boolean isVerifyError(Throwable t) {
    return t instanceof VerifyError || t instanceof ClassFormatError;
  }

  /**
   * args: ORIGINALS INSTRUMENTED. A class fails when its instrumented copy
   * has a verification error that its original doesn't.
   */
  public static void main(String[] args) throws Exception {
    int[] javaClasses = {0};
    Map<String, Path> originals = classesUnder(Paths.get(args[0]), new int[1]);
    Map<String, Path> instrumented = classesUnder(Paths.get(args[1]), javaClasses);
    ClassLoader parent = ClassLoader.getSystemClassLoader();
    ClassLoader before = new ChildFirst(originals, parent);
    ClassLoader after = new ChildFirst(instrumented, parent);
    List<String> names = new ArrayList<>(instrumented.keySet());
    names.sort(null);
    int linked = 0;
    int failures = 0;
    int failingBefore = 0;
    int otherErrors = 0;
    List<String> shown = new ArrayList<>();
    for (String name : names) {
      Throwable was = link(before, name);
      Throwable is = link(after, name);
      if (was != null && isVerifyError(was)) {
        failingBefore++;
      } else if (is != null && isVerifyError(is)) {
        failures++;
        if (shown.size() < 20) {
          shown.add(name + ": " + is);
        }
      } else if (is == null) {
        linked++;
      } else {
        otherErrors++;
      }
    }
    for (String line : shown) {
      System.out.println("verification error: " + line);
    }
    System.out.println("linked " + linked + " of " + names.size() + " classes; verification errors "
        + failures + "; left out: " + otherErrors + " with other linkage errors (missing"
        + " dependencies, module access), " + failingBefore + " whose original fails"
        + " verification outside its module, " + javaClasses[0]
        + " java.* classes (rewritten and read again only)");
    System.exit(failures > 0 ? 1 : 0);
  }
}
