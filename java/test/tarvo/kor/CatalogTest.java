package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** Tables, comparators and counters, and values as the engine stores and orders them. */
class CatalogTest extends SessionFixture {
  @Test
  void tablesAreListedInDeclarationOrderWithTheirFields() {
    List<TableInfo> tables = session.tables();
    assertEquals(List.of("PEOPLE 1", "CITIES 2", "WIDTHS 3", "WIDE 4"),
        tables.stream().map(t -> t.name() + " " + t.number()).collect(Collectors.toList()));
    assertEquals("[ID INTEGER 8, NAME STRING 20, HEIGHT DOUBLE, AGE INTEGER 2, CITY_ID INTEGER 8]",
        session.table("people").fields().toString());
    Field height = session.table("PEOPLE").field("height");
    assertEquals(List.of(3, 8), List.of(height.number(), height.width()));
    assertEquals(FieldType.DOUBLE, height.type());
    assertThrows(IllegalArgumentException.class, () -> session.table("NOPE"));
    assertThrows(IllegalArgumentException.class, () -> session.table("PEOPLE").field(6));
  }

  @Test
  void comparatorsDescribeTheirKindAndRebuiltCollation() {
    List<ComparatorInfo> comparators = session.comparators();
    assertEquals(List.of("BYNUMBER", "POLISH", "BYVALUE"),
        comparators.stream().map(ComparatorInfo::name).collect(Collectors.toList()));
    assertEquals(FieldType.INTEGER, comparators.get(0).orders());
    assertNull(comparators.get(0).collation());
    assertEquals(FieldType.DOUBLE, session.comparator("byvalue").orders());
    ComparatorInfo polish = session.comparator("POLISH");
    assertEquals(2, polish.number());
    assertEquals(" -.0123456789A=aĄ=ąB=bC=cĆ=ćD=dE=eĘ=ęF=fG=gH=hI=iJ=jK=kL=lŁ=łM=mN=nŃ=ń"
        + "O=oÓ=óP=pQ=qR=rS=sŚ=śT=tU=uV=vW=wX=xY=yZ=zŹ=źŻ=ż", polish.collation());
  }

  @Test
  void countersAreTheFileOnesThenOnePerTableWithAnId() {
    assertEquals(List.of("INVOICE 1", "PEOPLE 2", "CITIES 3"),
        session.counters().stream().map(c -> c.name() + " " + c.number())
            .collect(Collectors.toList()), "TIME is the commit clock, not listed");
    Counter invoice = session.counter("invoice");
    assertEquals(100, invoice.next());
    assertEquals(101, invoice.next());
    invoice.raiseTo(50);
    assertEquals(102, invoice.next(), "raising below the value leaves it");
    invoice.raiseTo(500);
    assertEquals(500, invoice.next());
    assertThrows(IllegalArgumentException.class, () -> session.counter("TIME"));
  }

  @Test
  void tableCounterStartsAboveTheHighestIdAfterARestart() {
    commitPeople(41);
    session.close();
    session = TestDatabase.open();
    assertEquals(42, session.counter("PEOPLE").next());
    assertEquals(1, session.counter("CITIES").next(), "an empty table keeps its counter");
  }

  @Test
  void emptyDatabaseListsNothing() {
    session.close();
    TestDatabase.write("END\r\n", "TIME $1\r\n");
    session = TestDatabase.open();
    assertTrue(session.tables().isEmpty());
    assertTrue(session.comparators().isEmpty());
    assertTrue(session.counters().isEmpty());
  }

  @Test
  void polishNamesSortAlphabeticallyAndCaseDoesNotMakeThemUnique() {
    List<String> sorted = List.of("Cieszyn", "Ćmielów", "Ełk", "Lublin", "Łódź", "Opole",
        "Ostrów", "Oświęcim", "Szczecin", "Świnoujście", "Zakopane", "Źródła", "Żory");
    List<String> shuffled = new ArrayList<>(sorted);
    java.util.Collections.shuffle(shuffled, new java.util.Random(7));
    try (Transaction tx = session.begin()) {
      TableView byId = tx.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
      long id = 1;
      for (String name : shuffled) {
        assertTrue(byId.insert(byId.newRecord().set("ID", id++).set("NAME", name)), name);
      }
      TableView byName = tx.open(ViewDefinition.of("CITIES").fields("NAME")
          .orderBy("NAME", "POLISH"));
      assertEquals(sorted, byName.readAll().stream().map(r -> r.getString("NAME"))
          .collect(Collectors.toList()));
      assertFalse(byId.insert(byId.newRecord().set("ID", 99L).set("NAME", "ŁÓDŹ")),
          "the name index is unique under the collation");
      byName.seek("łódź");
      assertEquals("Łódź", byName.current().getString("NAME"));
    }
  }

  @Test
  void nullsSortFirstAndDoublesAndIntegersInValueOrder() {
    try (Transaction tx = session.begin()) {
      TableView view = people(tx);
      double[] heights = {1.5, -2.0, 0.0, 1e300};
      for (int i = 0; i < heights.length; i++) {
        assertTrue(view.insert(person(view, 10 - i, "P").setDouble("HEIGHT", heights[i])));
      }
      assertTrue(view.insert(person(view, -5, null)));
      TableView byHeight = tx.open(ViewDefinition.of("PEOPLE").fields("HEIGHT", "ID")
          .orderBy("HEIGHT", "BYVALUE"));
      assertEquals(List.of(-5L, 9L, 8L, 10L, 7L), ids(byHeight.readAll()), "null height first");
      assertEquals(List.of(-5L, 7L, 8L, 9L, 10L), ids(view.readAll()), "negative IDs first");
    }
  }

  @Test
  void everyIntegerWidthRoundTripsThroughTheEngine() {
    try (Transaction tx = session.begin()) {
      TableView view = tx.open(ViewDefinition.of("WIDTHS").orderBy("I8", "BYNUMBER"));
      ViewRecord low = view.newRecord().set("I1", -128L).set("I2", -32768L)
          .set("I3", -8388608L).set("I4", (long) Integer.MIN_VALUE).set("I8", Long.MIN_VALUE)
          .set("I12", Long.MIN_VALUE).set("S4", "abcd").set("D", Double.NEGATIVE_INFINITY);
      ViewRecord high = view.newRecord().set("I1", 127L).set("I2", 32767L)
          .set("I3", 8388607L).set("I4", (long) Integer.MAX_VALUE).set("I8", Long.MAX_VALUE)
          .set("I12", Long.MAX_VALUE).set("S4", "ż").set("D", Double.MIN_VALUE);
      ViewRecord nulls = view.newRecord().set("I8", 0L);
      assertTrue(view.insertAll(List.of(high, nulls, low)));
      assertEquals(List.of(low, nulls, high), view.readAll());
    }
  }
}
