package app.extra;

// Never loaded by the run of small.snp: reported from classes.jar, all missed.
public class Never {
  int next(int x) {
    return x + 1;
  }
}
