package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.api.Test;

/** The view record's bytes as the engine lays them out; no session needed. */
class ViewRecordTest {
  /** INTEGER 8, STRING 30, DOUBLE with the bitmap at offset 46: the engine's own example. */
  private static final RecordLayout EXAMPLE = layout(
      new Field(1, "ID", FieldType.INTEGER, 8),
      new Field(2, "NAME", FieldType.STRING, 30),
      new Field(3, "PRICE", FieldType.DOUBLE, 8));

  private static RecordLayout layout(Field... fields) {
    return new RecordLayout(List.of(fields), Session.DEFAULT_CHARSET);
  }

  private static RecordLayout integers(int width) {
    return layout(new Field(1, "N", FieldType.INTEGER, width));
  }

  @Test
  void layoutPacksFieldsThenTheNullBitmap() {
    assertEquals(47, EXAMPLE.size());
    assertEquals(List.of(0, 8, 38), List.of(EXAMPLE.offset(1), EXAMPLE.offset(2), EXAMPLE.offset(3)));
    assertEquals(46, EXAMPLE.bitmapOffset());
  }

  @ParameterizedTest(name = "{0} one-byte fields take {1} bitmap bytes")
  @CsvSource({"1, 1", "8, 1", "9, 2", "16, 2", "17, 3"})
  void bitmapHasOneBitPerField(int fields, int bitmapBytes) {
    Field[] list = new Field[fields];
    for (int i = 0; i < fields; i++) list[i] = new Field(i + 1, "F" + i, FieldType.INTEGER, 1);
    assertEquals(fields + bitmapBytes, layout(list).size());
  }

  @Test
  void newRecordHasEveryFieldNull() {
    ViewRecord r = new ViewRecord(EXAMPLE);
    for (int f = 1; f <= 3; f++) assertTrue(r.isNull(f));
    assertNull(r.getLong("ID"));
    assertNull(r.getString("name"));
    assertNull(r.getDouble(3));
  }

  @Test
  void valuesLandAtTheirOffsetsAndSetTheirBits() {
    ViewRecord r = new ViewRecord(EXAMPLE).setLong("ID", 0x0102030405060708L)
        .setString("NAME", "Żółw").setDouble("PRICE", 1.5);
    byte[] b = r.bytes();
    assertArrayEquals(new byte[] {8, 7, 6, 5, 4, 3, 2, 1}, java.util.Arrays.copyOf(b, 8));
    assertEquals((byte) 0xAF, b[8], "Ż in windows-1250");
    assertEquals(0, b[12], "text shorter than the field ends in a zero byte");
    long bits = Double.doubleToRawLongBits(1.5);
    for (int i = 0; i < 8; i++) assertEquals((byte) (bits >>> (8 * i)), b[38 + i]);
    assertEquals(0b111, b[46]);
    assertEquals(0x0102030405060708L, r.getLong(1));
    assertEquals("Żółw", r.getString(2));
    assertEquals(1.5, r.getDouble(3));
  }

  @Test
  void setNullClearsTheBitAndTheBytes() {
    ViewRecord r = new ViewRecord(EXAMPLE).setLong(1, -1).setString(2, "x");
    r.setNull(1);
    assertTrue(r.isNull("ID"));
    assertFalse(r.isNull("NAME"));
    assertEquals(0b010, r.bytes()[46]);
    assertEquals(new ViewRecord(EXAMPLE).setString(2, "x"), r);
    r.set("NAME", null);
    assertEquals(new ViewRecord(EXAMPLE), r);
  }

  @ParameterizedTest(name = "INTEGER {0} holds {1}..{2}")
  @CsvSource({
      "1, -128, 127",
      "2, -32768, 32767",
      "3, -8388608, 8388607",
      "4, -2147483648, 2147483647",
      "5, -549755813888, 549755813887",
      "8, -9223372036854775808, 9223372036854775807",
      "12, -9223372036854775808, 9223372036854775807"})
  void integersRoundTripAtEveryWidth(int width, long min, long max) {
    RecordLayout layout = integers(width);
    for (long value : new long[] {min, max, -1, 0, 1}) {
      ViewRecord r = new ViewRecord(layout).setLong(1, value);
      assertEquals(value, r.getLong(1), "width " + width);
    }
    if (width < 8) {
      assertThrows(IllegalArgumentException.class, () -> new ViewRecord(layout).setLong(1, max + 1));
      assertThrows(IllegalArgumentException.class, () -> new ViewRecord(layout).setLong(1, min - 1));
    }
  }

  @Test
  void integerBytesAreLittleEndianTwosComplement() {
    assertArrayEquals(new byte[] {(byte) 0xFF, (byte) 0xFF, (byte) 0xFF},
        new ViewRecord(integers(3)).setLong(1, -1).getBytes(1));
    assertArrayEquals(new byte[] {0x00, (byte) 0x80},
        new ViewRecord(integers(2)).setLong(1, -32768).getBytes(1));
    byte[] wide = new ViewRecord(integers(12)).setLong(1, -2).getBytes(1);
    assertArrayEquals(new byte[] {-2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}, wide);
  }

  @Test
  void wideIntegerBeyondSixtyFourBitsIsNotReadAsLong() {
    byte[] value = new byte[12];
    value[9] = 1;
    ViewRecord r = new ViewRecord(integers(12)).setBytes(1, value);
    assertThrows(ArithmeticException.class, () -> r.getLong(1));
    assertArrayEquals(value, r.getBytes(1));
  }

  @Test
  void stringOfExactlyTheWidthHasNoTerminator() {
    RecordLayout layout = layout(new Field(1, "S", FieldType.STRING, 4));
    ViewRecord r = new ViewRecord(layout).setString(1, "abcd");
    assertArrayEquals("abcd".getBytes(StandardCharsets.US_ASCII), r.getBytes(1));
    assertEquals("abcd", r.getString(1));
    assertEquals("", new ViewRecord(layout).setString(1, "").getString(1));
  }

  @Test
  void refusedValuesLeaveTheRecordAsItWas() {
    RecordLayout layout = layout(new Field(1, "S", FieldType.STRING, 4),
        new Field(2, "N", FieldType.INTEGER, 2), new Field(3, "D", FieldType.DOUBLE, 8));
    ViewRecord r = new ViewRecord(layout);
    List<Runnable> refused = List.of(
        () -> r.setString(1, "abcde"),          // five bytes in four
        () -> r.setString(1, "ąęść€"),          // five windows-1250 bytes in four
        () -> r.setString(1, "日本"),            // not in windows-1250
        () -> r.setString(1, "a\0b"),           // zero character
        () -> r.setLong(1, 1),                  // wrong type
        () -> r.setDouble(2, 1),
        () -> r.setString(3, "x"),
        () -> r.set(2, 1.5),                    // a double for an INTEGER
        () -> r.set(2, "1"),
        () -> r.setBytes(2, new byte[3]),       // wrong width
        () -> r.setLong(4, 1),                  // no field 4
        () -> r.setLong(0, 1),
        () -> r.setNull("NOPE"));
    for (Runnable call : refused) {
      assertThrows(IllegalArgumentException.class, call::run);
      assertEquals(new ViewRecord(layout), r);
    }
  }

  @Test
  void genericSetAndGetFollowTheFieldType() {
    ViewRecord r = new ViewRecord(EXAMPLE).set("id", 7).set("name", "Łódź").set("price", 2);
    assertEquals(7L, r.get("ID"));
    assertEquals("Łódź", r.get("NAME"));
    assertEquals(2.0, r.get("PRICE"));
    assertEquals("{ID=7, NAME=Łódź, PRICE=2.0}", r.toString());
    assertEquals(r, r.copy());
    assertFalse(r.copy().setNull(1).equals(r));
  }
}
