package tarvo.kor;

import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.util.Arrays;

/**
 * One view record: the bytes of {@link RecordLayout}, read and written by
 * field number (1-based, in view order) or by field name. A field is null
 * or holds a value; getters return null for a null field, and setting a
 * value makes the field present.
 *
 * <p>INTEGER fields are read and written as {@code long}: a value must fit
 * the field's width (an INTEGER 2 holds -32768..32767); fields wider than 8
 * bytes are sign-extended when written and read as long as the value fits.
 * STRING fields are text in the layout's character set, at most the field's
 * width in bytes. Records are not shared between threads by the API; a
 * record passed to a view is copied into the request, so it may be reused.
 */
public final class ViewRecord {
  private final RecordLayout layout;
  private final byte[] bytes;

  ViewRecord(RecordLayout layout) {
    this(layout, new byte[layout.size()]);
  }

  ViewRecord(RecordLayout layout, byte[] bytes) {
    this.layout = layout;
    this.bytes = bytes;
  }

  public RecordLayout layout() {
    return layout;
  }

  /** The record's bytes on the wire; the array is the record's own. */
  byte[] bytes() {
    return bytes;
  }

  /** A copy with the same field values. */
  public ViewRecord copy() {
    return new ViewRecord(layout, bytes.clone());
  }

  /** Makes every field null. */
  public ViewRecord clear() {
    Arrays.fill(bytes, (byte) 0);
    return this;
  }

  // --- Nulls ---

  public boolean isNull(int field) {
    layout.checkNumber(field);
    int bit = field - 1;
    return (bytes[layout.bitmapOffset() + bit / 8] & (1 << (bit % 8))) == 0;
  }

  public boolean isNull(String field) {
    return isNull(layout.field(field).number());
  }

  /** Makes the field null; its bytes are cleared so that equal records have equal bytes. */
  public ViewRecord setNull(int field) {
    layout.checkNumber(field);
    int bit = field - 1;
    bytes[layout.bitmapOffset() + bit / 8] &= (byte) ~(1 << (bit % 8));
    int offset = layout.offset(field);
    Arrays.fill(bytes, offset, offset + layout.field(field).width(), (byte) 0);
    return this;
  }

  public ViewRecord setNull(String field) {
    return setNull(layout.field(field).number());
  }

  private void setPresent(int field) {
    int bit = field - 1;
    bytes[layout.bitmapOffset() + bit / 8] |= (byte) (1 << (bit % 8));
  }

  // --- INTEGER ---

  /** The INTEGER field's value, or null when the field is null. */
  public Long getLong(int field) {
    Field f = typed(field, FieldType.INTEGER);
    if (isNull(field)) return null;
    int offset = layout.offset(field);
    int width = f.width();
    int low = Math.min(width, 8);
    long value = 0;
    for (int i = low - 1; i >= 0; i--) value = value << 8 | (bytes[offset + i] & 0xFF);
    if (low < 8) value = value << (64 - 8 * low) >> (64 - 8 * low);
    byte extension = (byte) (value < 0 ? -1 : 0);
    for (int i = 8; i < width; i++) {
      if (bytes[offset + i] != extension) {
        throw new ArithmeticException("field " + f.name() + " holds a value beyond 64 bits");
      }
    }
    return value;
  }

  public Long getLong(String field) {
    return getLong(layout.field(field).number());
  }

  public ViewRecord setLong(int field, long value) {
    Field f = typed(field, FieldType.INTEGER);
    int width = f.width();
    if (width < 8) {
      long min = -1L << (8 * width - 1);
      long max = ~min;
      if (value < min || value > max) {
        throw new IllegalArgumentException(value + " does not fit field " + f.name() + " ("
            + min + ".." + max + ")");
      }
    }
    int offset = layout.offset(field);
    for (int i = 0; i < width; i++) {
      bytes[offset + i] = i < 8 ? (byte) (value >>> (8 * i)) : (byte) (value < 0 ? -1 : 0);
    }
    setPresent(field);
    return this;
  }

  public ViewRecord setLong(String field, long value) {
    return setLong(layout.field(field).number(), value);
  }

  // --- STRING ---

  /** The STRING field's text up to its first zero byte, or null when the field is null. */
  public String getString(int field) {
    typed(field, FieldType.STRING);
    if (isNull(field)) return null;
    int offset = layout.offset(field);
    int end = offset;
    int limit = offset + layout.field(field).width();
    while (end < limit && bytes[end] != 0) end++;
    return new String(bytes, offset, end - offset, layout.charset());
  }

  public String getString(String field) {
    return getString(layout.field(field).number());
  }

  /**
   * Sets the STRING field to {@code text} (null makes it null). The text
   * must be encodable in the layout's character set, at most the field's
   * width in bytes, and free of zero characters.
   */
  public ViewRecord setString(int field, String text) {
    Field f = typed(field, FieldType.STRING);
    if (text == null) return setNull(field);
    byte[] encoded = encode(f, text);
    int offset = layout.offset(field);
    System.arraycopy(encoded, 0, bytes, offset, encoded.length);
    Arrays.fill(bytes, offset + encoded.length, offset + f.width(), (byte) 0);
    setPresent(field);
    return this;
  }

  public ViewRecord setString(String field, String text) {
    return setString(layout.field(field).number(), text);
  }

  private byte[] encode(Field f, String text) {
    if (text.indexOf('\0') >= 0) {
      throw new IllegalArgumentException("text for field " + f.name() + " holds a zero character");
    }
    ByteBuffer encoded;
    try {
      encoded = layout.charset().newEncoder()
          .onMalformedInput(CodingErrorAction.REPORT)
          .onUnmappableCharacter(CodingErrorAction.REPORT)
          .encode(CharBuffer.wrap(text));
    } catch (CharacterCodingException e) {
      throw new IllegalArgumentException("\"" + text + "\" cannot be written in "
          + layout.charset() + " for field " + f.name(), e);
    }
    if (encoded.remaining() > f.width()) {
      throw new IllegalArgumentException("\"" + text + "\" takes " + encoded.remaining()
          + " bytes; field " + f.name() + " holds " + f.width());
    }
    byte[] result = new byte[encoded.remaining()];
    encoded.get(result);
    return result;
  }

  // --- DOUBLE ---

  public Double getDouble(int field) {
    typed(field, FieldType.DOUBLE);
    if (isNull(field)) return null;
    int offset = layout.offset(field);
    long bits = 0;
    for (int i = 7; i >= 0; i--) bits = bits << 8 | (bytes[offset + i] & 0xFF);
    return Double.longBitsToDouble(bits);
  }

  public Double getDouble(String field) {
    return getDouble(layout.field(field).number());
  }

  public ViewRecord setDouble(int field, double value) {
    typed(field, FieldType.DOUBLE);
    long bits = Double.doubleToRawLongBits(value);
    int offset = layout.offset(field);
    for (int i = 0; i < 8; i++) bytes[offset + i] = (byte) (bits >>> (8 * i));
    setPresent(field);
    return this;
  }

  public ViewRecord setDouble(String field, double value) {
    return setDouble(layout.field(field).number(), value);
  }

  // --- Any type ---

  /** The field's raw bytes (a copy), or null when the field is null. */
  public byte[] getBytes(int field) {
    layout.checkNumber(field);
    if (isNull(field)) return null;
    int offset = layout.offset(field);
    return Arrays.copyOfRange(bytes, offset, offset + layout.field(field).width());
  }

  /** Sets the field's raw bytes, exactly its width (null makes it null). */
  public ViewRecord setBytes(int field, byte[] value) {
    Field f = layout.field(field);
    if (value == null) return setNull(field);
    if (value.length != f.width()) {
      throw new IllegalArgumentException(value.length + " bytes for field " + f.name()
          + " of " + f.width());
    }
    System.arraycopy(value, 0, bytes, layout.offset(field), value.length);
    setPresent(field);
    return this;
  }

  /** The value as Long, String or Double by the field's type; null for a null field. */
  public Object get(int field) {
    switch (layout.field(field).type()) {
      case INTEGER:
        return getLong(field);
      case STRING:
        return getString(field);
      default:
        return getDouble(field);
    }
  }

  public Object get(String field) {
    return get(layout.field(field).number());
  }

  /**
   * Sets the field from a Java value: a Number for INTEGER (integral) and
   * DOUBLE, a String for STRING, a byte[] of the field's width for any
   * type; null makes the field null.
   */
  public ViewRecord set(int field, Object value) {
    Field f = layout.field(field);
    if (value == null) return setNull(field);
    if (value instanceof byte[]) return setBytes(field, (byte[]) value);
    switch (f.type()) {
      case INTEGER:
        if (value instanceof Long || value instanceof Integer || value instanceof Short
            || value instanceof Byte) {
          return setLong(field, ((Number) value).longValue());
        }
        break;
      case STRING:
        if (value instanceof String) return setString(field, (String) value);
        break;
      default:
        if (value instanceof Number) return setDouble(field, ((Number) value).doubleValue());
        break;
    }
    throw new IllegalArgumentException("a " + value.getClass().getSimpleName()
        + " cannot be stored in field " + f);
  }

  public ViewRecord set(String field, Object value) {
    return set(layout.field(field).number(), value);
  }

  private Field typed(int field, FieldType type) {
    Field f = layout.field(field);
    if (f.type() != type) {
      throw new IllegalArgumentException("field " + f.name() + " is " + f.type() + ", not " + type);
    }
    return f;
  }

  @Override
  public boolean equals(Object o) {
    if (!(o instanceof ViewRecord)) return false;
    ViewRecord r = (ViewRecord) o;
    return layout.fields().equals(r.layout.fields()) && Arrays.equals(bytes, r.bytes);
  }

  @Override
  public int hashCode() {
    return Arrays.hashCode(bytes);
  }

  /** The fields and their values, for example {@code {ID=1, NAME=Kowalski, PRICE=null}}. */
  @Override
  public String toString() {
    StringBuilder text = new StringBuilder("{");
    for (Field f : layout.fields()) {
      if (text.length() > 1) text.append(", ");
      text.append(f.name()).append('=');
      Object value;
      try {
        value = get(f.number());
      } catch (ArithmeticException e) {
        value = Arrays.toString(getBytes(f.number()));
      }
      text.append(value);
    }
    return text.append('}').toString();
  }
}
