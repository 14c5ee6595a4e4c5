package tarvo.kor;

/**
 * Child-process program for {@link KorLibLoadTest}: initialises KorLib (which
 * loads the library) and reports on standard output how that went. Exit
 * code 0 when the library loaded and answered a native call, 3 when loading
 * failed with UnsatisfiedLinkError.
 */
public final class LoadProbe {
  private LoadProbe() {}

  public static void main(String[] args) {
    boolean closed;
    try {
      closed = KorLib.KorDone();
    } catch (UnsatisfiedLinkError e) {
      System.out.println("UnsatisfiedLinkError: " + e.getMessage());
      System.exit(3);
      return;
    }
    System.out.println("loaded, KorDone " + closed);
  }
}
