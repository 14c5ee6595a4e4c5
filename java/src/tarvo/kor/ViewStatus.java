package tarvo.kor;

/**
 * The status word of a data reply: where the view stands, and whether the
 * command failed.
 *
 * <pre>
 * BIT  VALUE  MEANING
 * 0    1      the view has no position
 * 1    2      the view stands before the first record
 * 2    4      the view stands after the last record
 * 3    8      the command failed (refused change, or a precondition)
 * </pre>
 *
 * A status of 0 means the view stands on a record and the command succeeded.
 */
public final class ViewStatus {
  public static final int NO_POSITION = 1;
  public static final int BEFORE_FIRST = 2;
  public static final int AFTER_LAST = 4;
  public static final int FAILED = 8;

  private final int bits;

  ViewStatus(int bits) {
    this.bits = bits;
  }

  /** The word as the engine sent it. */
  public int bits() {
    return bits;
  }

  /** The view stands on a record. */
  public boolean onRecord() {
    return (bits & (NO_POSITION | BEFORE_FIRST | AFTER_LAST)) == 0;
  }

  public boolean noPosition() {
    return (bits & NO_POSITION) != 0;
  }

  public boolean beforeFirst() {
    return (bits & BEFORE_FIRST) != 0;
  }

  public boolean afterLast() {
    return (bits & AFTER_LAST) != 0;
  }

  /** The command failed: a change was refused, or the view was not where the command needs it. */
  public boolean failed() {
    return (bits & FAILED) != 0;
  }

  @Override
  public boolean equals(Object o) {
    return o instanceof ViewStatus && ((ViewStatus) o).bits == bits;
  }

  @Override
  public int hashCode() {
    return bits;
  }

  @Override
  public String toString() {
    StringBuilder text = new StringBuilder();
    if (noPosition()) text.append("no position");
    if (beforeFirst()) text.append(text.length() > 0 ? ", " : "").append("before first");
    if (afterLast()) text.append(text.length() > 0 ? ", " : "").append("after last");
    if (text.length() == 0) text.append("on a record");
    if (failed()) text.append(", failed");
    return text + " (" + bits + ")";
  }
}
