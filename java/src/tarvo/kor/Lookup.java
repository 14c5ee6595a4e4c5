package tarvo.kor;

import java.util.ArrayList;
import java.util.List;

/**
 * A join done at read time: for each record it reads, a view finds a record
 * of another open view (the looked-up view) by that view's key, and shows
 * some of its fields as its own, null when no record matches.
 *
 * <p>Key parts fill the looked-up view's key in order: the first part its
 * first key field, and so on; each is a field of the new view (by name or
 * number; also a result of an earlier lookup) of the same type and width as
 * that key field, or a constant. Reading through a lookup moves the
 * looked-up view, and the looked-up view stays in use (its transaction
 * cannot end) until the view with the lookup closes.
 */
public final class Lookup {
  /** A key part: a field of the new view (name or number), or a constant (field null, number 0). */
  static final class Part {
    final String field;
    final int number;
    final Object constant;

    Part(String field, int number, Object constant) {
      this.field = field;
      this.number = number;
      this.constant = constant;
    }

    boolean isConstant() {
      return field == null && number == 0;
    }
  }

  /** A result field: a field of the looked-up view, and the name it gets in the new view. */
  static final class Result {
    final String field;
    final int number;
    final String alias;

    Result(String field, int number, String alias) {
      this.field = field;
      this.number = number;
      this.alias = alias;
    }
  }

  final TableView view;
  final List<Part> parts = new ArrayList<>();
  final List<Result> results = new ArrayList<>();

  private Lookup(TableView view) {
    this.view = view;
  }

  /** A lookup into {@code view}, which must be open in the same session. */
  public static Lookup in(TableView view) {
    if (view == null) throw new NullPointerException("view");
    return new Lookup(view);
  }

  /** The next key part comes from the new view's field {@code field}. */
  public Lookup byField(String field) {
    if (field == null) throw new NullPointerException("field");
    parts.add(new Part(field, 0, null));
    return this;
  }

  /** The next key part comes from the new view's field number {@code field} (1-based). */
  public Lookup byField(int field) {
    if (field < 1) throw new IllegalArgumentException("field number " + field);
    parts.add(new Part(null, field, null));
    return this;
  }

  /**
   * The next key part is the constant {@code value}, as a record field of
   * the key field's type would take it (Long, String, Double or raw bytes).
   */
  public Lookup byConstant(Object value) {
    if (value == null) throw new NullPointerException("constant");
    parts.add(new Part(null, 0, value));
    return this;
  }

  /** Shows the looked-up view's field {@code field} under its own name. */
  public Lookup result(String field) {
    return result(field, field);
  }

  /** Shows the looked-up view's field {@code field} as {@code alias}. */
  public Lookup result(String field, String alias) {
    if (field == null) throw new NullPointerException("field");
    if (alias == null) throw new NullPointerException("alias");
    results.add(new Result(field, 0, alias));
    return this;
  }

  /** Shows the looked-up view's field number {@code field} (1-based) as {@code alias}. */
  public Lookup result(int field, String alias) {
    if (alias == null) throw new NullPointerException("alias");
    results.add(new Result(null, field, alias));
    return this;
  }
}
