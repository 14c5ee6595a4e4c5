package tarvo.kor;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * What a view opens: a table, the fields it shows (all of them when none
 * are named), the order of its records (a key of fields and comparators,
 * which must be among the shown fields), and lookups into other open views.
 * Names are checked, and turned into numbers, when the view is opened.
 *
 * <pre>{@code
 * ViewDefinition.of("ORDERS")
 *     .fields("ID", "CUSTOMER_ID", "QUANTITY")
 *     .orderBy("ID", "BYID")
 *     .lookup(Lookup.in(customers).byField("CUSTOMER_ID").result("NAME", "CUSTOMER"));
 * }</pre>
 */
public final class ViewDefinition {
  /** A field or comparator given by name or by number (name null). */
  static final class Ref {
    final String name;
    final int number;

    Ref(String name, int number) {
      this.name = name;
      this.number = number;
    }

    @Override
    public String toString() {
      return name != null ? name : "#" + number;
    }
  }

  final Ref table;
  final List<Ref> fields = new ArrayList<>();
  boolean fieldsGiven;
  final List<Ref[]> key = new ArrayList<>();
  final List<Lookup> lookups = new ArrayList<>();

  private ViewDefinition(Ref table) {
    this.table = table;
  }

  /** A view of the table named {@code table}. */
  public static ViewDefinition of(String table) {
    if (table == null) throw new NullPointerException("table");
    return new ViewDefinition(new Ref(table, 0));
  }

  /** A view of table {@code number} (1-based, in declaration order). */
  public static ViewDefinition of(int table) {
    return new ViewDefinition(new Ref(null, table));
  }

  /** The fields to show, in view order (replaces any named before). */
  public ViewDefinition fields(String... names) {
    if (names == null) throw new NullPointerException("names");
    fields.clear();
    fieldsGiven = true;
    for (String name : names) {
      if (name == null) throw new NullPointerException("field name");
      fields.add(new Ref(name, 0));
    }
    return this;
  }

  /** The fields to show by their numbers in the table, in view order. */
  public ViewDefinition fields(int... numbers) {
    if (numbers == null) throw new NullPointerException("numbers");
    fields.clear();
    fieldsGiven = true;
    for (int n : numbers) fields.add(new Ref(null, n));
    return this;
  }

  /** Appends a key part: order by {@code field} with {@code comparator}. */
  public ViewDefinition orderBy(String field, String comparator) {
    if (field == null) throw new NullPointerException("field");
    if (comparator == null) throw new NullPointerException("comparator");
    key.add(new Ref[] {new Ref(field, 0), new Ref(comparator, 0)});
    return this;
  }

  /** Appends a key part by table field number and comparator number. */
  public ViewDefinition orderBy(int field, int comparator) {
    key.add(new Ref[] {new Ref(null, field), new Ref(null, comparator)});
    return this;
  }

  /** Appends a lookup; its result fields follow the shown fields and earlier lookups' results. */
  public ViewDefinition lookup(Lookup lookup) {
    if (lookup == null) throw new NullPointerException("lookup");
    lookups.add(lookup);
    return this;
  }

  List<Lookup> lookups() {
    return Collections.unmodifiableList(lookups);
  }
}
