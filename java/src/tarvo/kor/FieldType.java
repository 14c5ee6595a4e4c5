package tarvo.kor;

/**
 * The engine's field types, by their registry numbers on the wire (describe
 * table). Values are stored as:
 * <ul>
 *   <li>{@link #INTEGER} of n bytes (1 to 10000): two's complement, least
 *       significant byte first; read and written as a {@code long} for n up
 *       to 8;
 *   <li>{@link #STRING} of n bytes: up to n bytes of text, ended by a zero
 *       byte when shorter;
 *   <li>{@link #DOUBLE}: 8 bytes, an IEEE 754 double, little-endian.
 * </ul>
 */
public enum FieldType {
  INTEGER(1),
  STRING(2),
  DOUBLE(3);

  private final int wireNumber;

  FieldType(int wireNumber) {
    this.wireNumber = wireNumber;
  }

  /** The type's number in the engine's field type registry. */
  public int wireNumber() {
    return wireNumber;
  }

  /** The type with registry number {@code number}; null when there is none. */
  static FieldType fromWire(int number) {
    for (FieldType type : values()) {
      if (type.wireNumber == number) return type;
    }
    return null;
  }
}
