import java.io.File;
import java.util.TreeSet;
import org.jacoco.core.analysis.Analyzer;
import org.jacoco.core.analysis.CoverageBuilder;
import org.jacoco.core.analysis.IClassCoverage;
import org.jacoco.core.analysis.ICounter;
import org.jacoco.core.tools.ExecFileLoader;

/**
 * Prints the lines that JaCoCo reports covered, one "source:line" a line
 * (source as package/File.java, the form of an LCOV file's SF: paths),
 * sorted: JacocoLines EXEC_FILE CLASSES_JAR.
 */
public final class JacocoLines {
  private JacocoLines() {}

  public static void main(String[] args) throws Exception {
    ExecFileLoader loader = new ExecFileLoader();
    loader.load(new File(args[0]));
    CoverageBuilder builder = new CoverageBuilder();
    new Analyzer(loader.getExecutionDataStore(), builder).analyzeAll(new File(args[1]));
    TreeSet<String> lines = new TreeSet<>();
    for (IClassCoverage c : builder.getClasses()) {
      String source = c.getPackageName().isEmpty() ? c.getSourceFileName()
          : c.getPackageName() + "/" + c.getSourceFileName();
      for (int line = c.getFirstLine(); line > 0 && line <= c.getLastLine(); line++) {
        int status = c.getLine(line).getStatus();
        if (status == ICounter.PARTLY_COVERED || status == ICounter.FULLY_COVERED) {
          lines.add(source + ":" + line);
        }
      }
    }
    for (String line : lines) {
      System.out.println(line);
    }
  }
}
