import java.io.File;
import java.io.FileOutputStream;
import java.io.OutputStream;
import org.jacoco.core.analysis.Analyzer;
import org.jacoco.core.analysis.CoverageBuilder;
import org.jacoco.core.tools.ExecFileLoader;
import org.jacoco.report.DirectorySourceFileLocator;
import org.jacoco.report.IReportVisitor;
import org.jacoco.report.xml.XMLFormatter;

/**
 * Writes JaCoCo's own XML report of a run over the given class files, so that
 * it can be set beside snp's: JacocoReport EXEC_FILE OUT.xml CLASSES...
 */
public final class JacocoReport {
  private JacocoReport() {}

  public static void main(String[] args) throws Exception {
    ExecFileLoader loader = new ExecFileLoader();
    loader.load(new File(args[0]));
    CoverageBuilder builder = new CoverageBuilder();
    Analyzer analyzer = new Analyzer(loader.getExecutionDataStore(), builder);
    for (int i = 2; i < args.length; i++) {
      analyzer.analyzeAll(new File(args[i]));
    }
    try (OutputStream out = new FileOutputStream(args[1])) {
      IReportVisitor visitor = new XMLFormatter().createVisitor(out);
      visitor.visitInfo(loader.getSessionInfoStore().getInfos(),
          loader.getExecutionDataStore().getContents());
      visitor.visitBundle(builder.getBundle("jacoco"),
          new DirectorySourceFileLocator(new File(args[1]).getParentFile(), "UTF-8", 4));
      visitor.visitEnd();
    }
  }
}
