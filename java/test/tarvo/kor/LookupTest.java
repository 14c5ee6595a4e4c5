package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.function.Supplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Views that look up CITIES: by number, and by name under the Polish
 * collation. PEOPLE 1 lives in city 1, 2 in city 2, 3 in city 9 (no such
 * city) and 4 nowhere (null).
 */
class LookupTest extends SessionFixture {
  private Transaction tx;
  private TableView citiesById;
  private TableView citiesByName;

  @BeforeEach
  void fill() {
    tx = session.begin();
    citiesById = tx.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
    citiesByName = tx.open(ViewDefinition.of("CITIES").orderBy("NAME", "POLISH"));
    assertTrue(citiesById.insertAll(List.of(
        citiesById.newRecord().set("ID", 1L).set("NAME", "Łódź"),
        citiesById.newRecord().set("ID", 2L).set("NAME", "Kraków"))));
    TableView people = people(tx);
    assertTrue(people.insertAll(List.of(
        person(people, 1, "Anna").set("CITY_ID", 1L),
        person(people, 2, "Bogdan").set("CITY_ID", 2L),
        person(people, 3, "Celina").set("CITY_ID", 9L),
        person(people, 4, "Dariusz"))));
    people.close();
  }

  @AfterEach
  void rollBack() {
    tx.close();
  }

  private TableView peopleWithCity() {
    return tx.open(ViewDefinition.of("PEOPLE").fields("ID", "NAME", "CITY_ID")
        .orderBy("ID", "BYNUMBER")
        .lookup(Lookup.in(citiesById).byField("CITY_ID").result("NAME", "CITY")));
  }

  @Test
  void resultFieldsFollowTheOwnFieldsUnderTheirAliases() {
    TableView view = peopleWithCity();
    assertEquals(List.of("ID", "NAME", "CITY_ID", "CITY"),
        view.layout().fields().stream().map(Field::name).collect(java.util.stream.Collectors.toList()));
    assertEquals(30, view.layout().field("CITY").width());
  }

  @Test
  void lookupFillsMatchesAndLeavesMissesAndNullKeysNull() {
    List<ViewRecord> all = peopleWithCity().readAll();
    assertEquals("Łódź", all.get(0).getString("CITY"));
    assertEquals("Kraków", all.get(1).getString("CITY"));
    assertNull(all.get(2).getString("CITY"), "city 9 does not exist");
    assertNull(all.get(3).getString("CITY"), "a null key part finds nothing");
    assertTrue(all.get(3).isNull("CITY_ID"));
  }

  @Test
  void constantPartFindsOneRecordForEveryRowUnderTheCollation() {
    TableView view = tx.open(ViewDefinition.of("PEOPLE").fields("ID")
        .orderBy("ID", "BYNUMBER")
        .lookup(Lookup.in(citiesByName).byConstant("ŁÓDŹ").result("ID", "LODZ_ID")));
    for (ViewRecord r : view.readAll()) assertEquals(1L, r.getLong("LODZ_ID"), r.toString());
  }

  @Test
  void fieldPartMayComeFromAnEarlierLookup() {
    TableView view = tx.open(ViewDefinition.of("PEOPLE").fields("ID", "CITY_ID")
        .orderBy("ID", "BYNUMBER")
        .lookup(Lookup.in(citiesById).byField("CITY_ID").result("NAME", "CITY"))
        .lookup(Lookup.in(citiesByName).byField("CITY").result("ID", "CITY_AGAIN")));
    List<ViewRecord> all = view.readAll();
    assertEquals(2L, all.get(1).getLong("CITY_AGAIN"));
    assertNull(all.get(3).getLong("CITY_AGAIN"));
  }

  @Test
  void lookedUpViewStaysInUseUntilTheViewWithTheLookupCloses() {
    Transaction other = session.begin();
    TableView cities = other.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
    TableView view = tx.open(ViewDefinition.of("PEOPLE").orderBy("ID", "BYNUMBER")
        .lookup(Lookup.in(cities).byField("CITY_ID").result("NAME")));
    cities.close();
    assertThrows(IllegalStateException.class, other::commit, "the lookup still holds it");
    assertEquals(4, view.readAll().size(), "the lookup still works");
    view.close();
    other.commit();
  }

  @Test
  void closingTheLookedUpTransactionClosesTheViewsThatHoldIt() {
    Transaction other = session.begin();
    TableView cities = other.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
    TableView view = tx.open(ViewDefinition.of("PEOPLE").orderBy("ID", "BYNUMBER")
        .lookup(Lookup.in(cities).byField("CITY_ID").result("NAME")));
    other.close();
    assertTrue(!view.isOpen() && !cities.isOpen());
    assertTrue(!session.isEnded());
  }

  @Test
  void definitionsTheEngineCouldNotBuildAreRefusedInJava() {
    TableView closed = tx.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
    closed.close();
    List<Supplier<Lookup>> refused = List.of(
        () -> Lookup.in(citiesById).byField("NAME").result("NAME"),        // STRING into INTEGER
        () -> Lookup.in(citiesById).byField("AGE").result("NAME"),         // INTEGER 2 into 8
        () -> Lookup.in(citiesById).byField("CITY_ID").byField("ID").result("NAME"),  // 2 parts
        () -> Lookup.in(citiesById).result("NAME"),                        // no key part
        () -> Lookup.in(citiesById).byField("NOPE").result("NAME"),
        () -> Lookup.in(citiesById).byField(99).result("NAME"),
        () -> Lookup.in(citiesById).byConstant("1").result("NAME"),        // text for INTEGER
        () -> Lookup.in(citiesByName).byConstant("a name longer than thirty bytes")
            .result("ID"),
        () -> Lookup.in(citiesById).byField("CITY_ID").result("POPULATION"),
        () -> Lookup.in(citiesById).byField("CITY_ID").result(3, "X"));
    for (Supplier<Lookup> lookup : refused) {
      assertThrows(IllegalArgumentException.class, () -> tx.open(ViewDefinition.of("PEOPLE")
          .orderBy("ID", "BYNUMBER").lookup(lookup.get())));
    }
    assertThrows(IllegalStateException.class, () -> tx.open(ViewDefinition.of("PEOPLE")
        .orderBy("ID", "BYNUMBER").lookup(Lookup.in(closed).byField("CITY_ID").result("NAME"))));
    assertTrue(!session.isEnded());
    assertEquals(4, peopleWithCity().readAll().size());
  }
}
