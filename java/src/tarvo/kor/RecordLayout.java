package tarvo.kor;

import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Locale;

/**
 * The byte layout of a view record, the record exchanged with the engine:
 *
 * <pre>
 * OFFSET              SIZE                 CONTENT
 * 0                   width(1)             field 1
 * width(1)            width(2)             field 2
 * ...                                      fields packed in view order, no padding
 * sum of widths       ((n - 1) / 8) + 1    null bitmap: field i is present when
 *                                          bit (i - 1) % 8 of byte (i - 1) / 8 is 1
 * </pre>
 *
 * <p>A view's fields are the opened table fields in the order asked for, then
 * the result fields of each lookup. Names are found without regard to case;
 * when two fields share a name the first is found.
 */
public final class RecordLayout {
  private final List<Field> fields;
  private final int[] offsets;
  private final int bitmapOffset;
  private final int size;
  private final Charset charset;

  RecordLayout(List<Field> fields, Charset charset) {
    if (fields.isEmpty()) throw new IllegalArgumentException("a record needs at least one field");
    this.fields = Collections.unmodifiableList(new ArrayList<>(fields));
    this.charset = charset;
    offsets = new int[fields.size()];
    long offset = 0;
    for (int i = 0; i < fields.size(); i++) {
      offsets[i] = (int) offset;
      offset += fields.get(i).width();
    }
    long total = offset + (fields.size() - 1) / 8 + 1;
    if (total > Integer.MAX_VALUE - 64) {
      throw new IllegalArgumentException("a record of " + total + " bytes is too large");
    }
    bitmapOffset = (int) offset;
    size = (int) total;
  }

  /** The fields in view order; field i (1-based) is element i - 1. */
  public List<Field> fields() {
    return fields;
  }

  public int fieldCount() {
    return fields.size();
  }

  /** Bytes of one record, null bitmap included. */
  public int size() {
    return size;
  }

  /** The character set of STRING fields. */
  public Charset charset() {
    return charset;
  }

  /** Field {@code number} (1-based). */
  public Field field(int number) {
    checkNumber(number);
    return fields.get(number - 1);
  }

  /** The first field named {@code name}, case ignored. */
  public Field field(String name) {
    int number = numberOf(name);
    if (number < 0) {
      throw new IllegalArgumentException("no field " + name + " in " + names());
    }
    return fields.get(number - 1);
  }

  /** The number of the first field named {@code name}, case ignored; -1 when there is none. */
  public int numberOf(String name) {
    if (name == null) throw new NullPointerException("field name");
    String upper = name.toUpperCase(Locale.ROOT);
    for (Field f : fields) {
      if (f.name().equals(upper)) return f.number();
    }
    return -1;
  }

  int offset(int number) {
    return offsets[number - 1];
  }

  int bitmapOffset() {
    return bitmapOffset;
  }

  void checkNumber(int number) {
    if (number < 1 || number > fields.size()) {
      throw new IllegalArgumentException("field number " + number + " is outside 1.."
          + fields.size());
    }
  }

  private List<String> names() {
    List<String> names = new ArrayList<>();
    for (Field f : fields) names.add(f.name());
    return names;
  }

  @Override
  public String toString() {
    return fields + " (" + size + " bytes)";
  }
}
