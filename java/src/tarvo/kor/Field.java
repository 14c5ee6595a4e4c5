package tarvo.kor;

import java.util.Objects;

/** One field of a table or of a view record: its 1-based number, name, type and width in bytes. */
public final class Field {
  private final int number;
  private final String name;
  private final FieldType type;
  private final int width;

  Field(int number, String name, FieldType type, int width) {
    this.number = number;
    this.name = name;
    this.type = type;
    this.width = width;
  }

  public int number() {
    return number;
  }

  public String name() {
    return name;
  }

  public FieldType type() {
    return type;
  }

  public int width() {
    return width;
  }

  Field renumbered(int newNumber, String newName) {
    return new Field(newNumber, newName, type, width);
  }

  /** Same type and width: values of one can stand in the other. */
  boolean sameFormatAs(Field other) {
    return type == other.type && width == other.width;
  }

  @Override
  public boolean equals(Object o) {
    if (!(o instanceof Field)) return false;
    Field f = (Field) o;
    return number == f.number && width == f.width && name.equals(f.name) && type == f.type;
  }

  @Override
  public int hashCode() {
    return Objects.hash(number, name, type, width);
  }

  @Override
  public String toString() {
    return name + " " + type + (type == FieldType.DOUBLE ? "" : " " + width);
  }
}
