package tarvo.kor;

/**
 * A comparator of the database: its name, its number (1-based, in
 * declaration order), its kind, and for STRING comparators the collation as
 * the engine rebuilds it (characters in ascending order, equal ones joined
 * by "=").
 */
public final class ComparatorInfo {
  private final String name;
  private final int number;
  private final FieldType orders;
  private final String collation;

  ComparatorInfo(String name, int number, FieldType orders, String collation) {
    this.name = name;
    this.number = number;
    this.orders = orders;
    this.collation = collation;
  }

  public String name() {
    return name;
  }

  public int number() {
    return number;
  }

  /** The field type this comparator orders (INTEGERCOMPFUNC, STRINGCOMPFUNC, DOUBLECOMPFUNC). */
  public FieldType orders() {
    return orders;
  }

  /** The collation of a STRING comparator; null for the others. */
  public String collation() {
    return collation;
  }

  @Override
  public String toString() {
    return name + " " + orders + "COMPFUNC" + (collation == null ? "" : " '" + collation + "'");
  }
}
