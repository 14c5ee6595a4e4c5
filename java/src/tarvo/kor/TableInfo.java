package tarvo.kor;

import java.util.Collections;
import java.util.List;

/** A table of the database: its name, its number (1-based, in declaration order) and its fields. */
public final class TableInfo {
  private final String name;
  private final int number;
  private final List<Field> fields;

  TableInfo(String name, int number, List<Field> fields) {
    this.name = name;
    this.number = number;
    this.fields = Collections.unmodifiableList(fields);
  }

  public String name() {
    return name;
  }

  public int number() {
    return number;
  }

  /** The declared fields, numbered 1..n. */
  public List<Field> fields() {
    return fields;
  }

  /** Field {@code number} (1-based). */
  public Field field(int number) {
    if (number < 1 || number > fields.size()) {
      throw new IllegalArgumentException("table " + name + " has fields 1.." + fields.size()
          + ", not " + number);
    }
    return fields.get(number - 1);
  }

  /** The first field named {@code name} (case ignored). */
  public Field field(String fieldName) {
    if (fieldName == null) throw new NullPointerException("field name");
    for (Field f : fields) {
      if (f.name().equalsIgnoreCase(fieldName)) return f;
    }
    throw new IllegalArgumentException("table " + name + " has no field " + fieldName);
  }

  @Override
  public String toString() {
    return name + " " + fields;
  }
}
