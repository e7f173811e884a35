package sample;

/** Runs every sample in turn. */
public final class All {
  private All() {}

  public static void main(String[] args) throws Exception {
    Branches.main(args);
    Loops.main(args);
    Exceptions.main(args);
    Threads.main(args);
    Synchronized.main(args);
    Constructors.main(args);
    Lambdas.main(args);
    Switch.main(args);
    StaticInit.main(args);
  }
}
