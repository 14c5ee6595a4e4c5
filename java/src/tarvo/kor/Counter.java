package tarvo.kor;

/**
 * A named 64-bit counter of the database. A table with an {@code ID} field
 * has one named like the table, which starts above the table's highest ID.
 * Values are stored as they are handed out, so none is given twice, also
 * across restarts.
 */
public final class Counter {
  private final Session session;
  private final String name;
  private final int number;

  Counter(Session session, String name, int number) {
    this.session = session;
    this.name = name;
    this.number = number;
  }

  public String name() {
    return name;
  }

  /** The counter's number (1-based) on the wire. */
  public int number() {
    return number;
  }

  /** Hands out the counter's next value. */
  public long next() {
    session.enter();
    try {
      return session.client().nextCounterValue(number);
    } finally {
      session.exit();
    }
  }

  /**
   * Raises the counter so that it hands out {@code value} next, unless it is
   * already there or beyond (a counter never goes back).
   */
  public void raiseTo(long value) {
    session.enter();
    try {
      session.client().raiseCounter(number, value);
    } finally {
      session.exit();
    }
  }

  @Override
  public String toString() {
    return "counter " + name + " (" + number + ")";
  }
}
