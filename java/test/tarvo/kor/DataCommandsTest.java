package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The data commands through a view of PEOPLE with IDs 1, 2 and 3 committed. */
class DataCommandsTest extends SessionFixture {
  private Transaction tx;
  private TableView view;

  @BeforeEach
  void openView() {
    commitPeople(3);
    tx = session.begin();
    view = people(tx);
  }

  @AfterEach
  void closeView() {
    tx.close();
  }

  private static int bits(ViewStatus status) {
    return status.bits();
  }

  @Test
  void viewJustOpenedHasNoPosition() {
    assertEquals(ViewStatus.NO_POSITION, bits(view.status()));
  }

  @ParameterizedTest(name = "set position {0} gives status {1}")
  @CsvSource({"unposition, 1", "beforeFirst, 2", "afterLast, 4"})
  void setPositionModes(String mode, int status) {
    ViewStatus reply;
    switch (mode) {
      case "unposition":
        view.beforeFirst();
        reply = view.unposition();
        break;
      case "beforeFirst":
        reply = view.beforeFirst();
        break;
      default:
        reply = view.afterLast();
        break;
    }
    assertEquals(status, bits(reply));
    assertEquals(status, bits(view.status()));
  }

  @Test
  void fetchFromBeforeTheFirstRecordIsRefused() {
    view.beforeFirst();
    FetchResult result = view.fetch(5);
    assertEquals(2 + 8, bits(result.status()));
    assertTrue(result.records().isEmpty());
  }

  @Test
  void fetchFromTheFirstRecordReadsThemAllAndEndsAfterTheLast() {
    view.beforeFirst();
    MoveResult step = view.moveBy(1);
    assertEquals(0, bits(step.status()));
    assertEquals(1, step.steps());
    FetchResult result = view.fetch(5);
    assertEquals(List.of(1L, 2L, 3L), ids(result.records()));
    assertEquals(ViewStatus.AFTER_LAST, bits(result.status()));
  }

  @Test
  void fetchOfExactlyTheRemainingRecordsEndsAfterTheLast() {
    view.seek(2L);
    FetchResult result = view.fetch(2);
    assertEquals(List.of(2L, 3L), ids(result.records()));
    assertEquals(ViewStatus.AFTER_LAST, bits(result.status()));
  }

  @Test
  void fetchOfFewerThanRemainRepliesOnARecord() {
    view.seek(1L);
    FetchResult result = view.fetch(2);
    assertEquals(List.of(1L, 2L), ids(result.records()));
    assertEquals(0, bits(result.status()));
    assertEquals(3L, view.current().getLong("ID"));
  }

  @Test
  void fetchBackwardRunsToBeforeTheFirst() {
    view.afterLast();
    assertEquals(4 + 8, bits(view.fetchBackward(5).status()), "refused after the last record");
    view.moveBy(-1);
    FetchResult result = view.fetchBackward(5);
    assertEquals(List.of(3L, 2L, 1L), ids(result.records()));
    assertEquals(ViewStatus.BEFORE_FIRST, bits(result.status()));
  }

  @Test
  void fetchWithoutPositionIsRefused() {
    assertEquals(1 + 8, bits(view.fetch(1).status()));
    assertEquals(1 + 8, bits(view.fetchBackward(1).status()));
  }

  @ParameterizedTest(name = "fetch count {0} is refused in Java")
  @CsvSource({"0", "-1", "-2147483648"})
  void fetchCountBelowOneIsRefusedBeforeItIsSent(int count) {
    view.beforeFirst();
    assertThrows(IllegalArgumentException.class, () -> view.fetch(count));
    assertThrows(IllegalArgumentException.class, () -> view.fetchBackward(count));
    assertEquals(ViewStatus.BEFORE_FIRST, bits(view.status()), "the session goes on");
  }

  @ParameterizedTest(name = "move by {1} from {0}: status {2}, {3} steps")
  @CsvSource({
      "beforeFirst, 10, 4, 4",   // three records and the step past the last
      "beforeFirst, 1, 0, 1",
      "beforeFirst, 0, 2, 0",
      "last, 3, 4, 1",
      "afterLast, -2, 0, -2",
      "afterLast, -5, 2, -4",
      "first, -1, 2, -1"})
  void moveBy(String from, int steps, int status, int taken) {
    switch (from) {
      case "beforeFirst":
        view.beforeFirst();
        break;
      case "afterLast":
        view.afterLast();
        break;
      case "first":
        view.seek(1L);
        break;
      default:
        view.seek(3L);
        break;
    }
    MoveResult result = view.moveBy(steps);
    assertEquals(status, bits(result.status()));
    assertEquals(taken, result.steps());
  }

  @Test
  void moveWithoutPositionIsRefused() {
    MoveResult result = view.moveBy(1);
    assertEquals(1 + 8, bits(result.status()));
    assertEquals(0, result.steps());
    assertEquals(ViewStatus.NO_POSITION, bits(view.status()), "the session goes on");
  }

  @Test
  void seekForwardAndBackwardLandOnTheNearestRecord() {
    assertEquals(0, bits(view.seek(2L)));
    assertEquals(2L, view.current().getLong("ID"));
    assertEquals(ViewStatus.AFTER_LAST, bits(view.seek(4L)));
    assertEquals(0, bits(view.seekBackward(9L)));
    assertEquals(3L, view.current().getLong("ID"));
    assertEquals(ViewStatus.BEFORE_FIRST, bits(view.seekBackward(0L)));
    assertEquals(0, bits(view.seek(view.newRecord(), 0)), "no key fields: the first record");
    assertEquals(1L, view.current().getLong("ID"));
  }

  @Test
  void currentOffARecordIsNullWithTheFailureBit() {
    assertNull(view.current());
    assertEquals(1 + 8, bits(view.lastStatus()));
    view.afterLast();
    assertNull(view.current());
    assertEquals(4 + 8, bits(view.lastStatus()));
  }

  @Test
  void insertOfAVisibleUniqueKeyIsRefused() {
    view.seek(1L);
    assertFalse(view.insert(person(view, 2, "again")));
    assertEquals(8, bits(view.lastStatus()), "refused; the view stays on record 1");
    assertEquals(1L, view.current().getLong("ID"));
  }

  @Test
  void insertAndUpdateLeaveTheViewOnTheNewRecord() {
    assertTrue(view.insert(person(view, 7, "P7")));
    assertEquals(0, bits(view.lastStatus()));
    assertEquals(7L, view.current().getLong("ID"));
    ViewRecord changed = view.current().setString("NAME", "Siódmy").setLong("AGE", 77);
    assertTrue(view.update(changed));
    assertEquals(changed, view.current());
    assertTrue(view.update(view.current().setLong("ID", 5)), "the key may change too");
    assertEquals(List.of(1L, 2L, 3L, 5L), ids(view.readAll()));
  }

  @Test
  void updateOffARecordIsRefused() {
    assertFalse(view.update(person(view, 1, "nobody")));
    assertEquals(1 + 8, bits(view.lastStatus()));
    view.afterLast();
    assertFalse(view.update(person(view, 1, "nobody")));
    assertEquals(4 + 8, bits(view.lastStatus()));
    assertEquals(List.of("P1", "P2", "P3"), names(view.readAll()));
  }

  @Test
  void updateToATakenKeyIsRefused() {
    view.seek(1L);
    assertFalse(view.update(view.current().setLong("ID", 2)));
    assertEquals(8, bits(view.lastStatus()));
  }

  @Test
  void deleteMovesToTheNextRecordAndPastTheLast() {
    view.seek(2L);
    assertTrue(view.deleteCurrent());
    assertEquals(3L, view.current().getLong("ID"));
    assertTrue(view.deleteCurrent());
    assertEquals(ViewStatus.AFTER_LAST, bits(view.lastStatus()));
    assertFalse(view.deleteCurrent(), "nothing to delete after the last record");
    assertEquals(4 + 8, bits(view.lastStatus()));
    assertEquals(List.of(1L), ids(view.readAll()));
  }

  @Test
  void deleteWithoutPositionIsRefused() {
    assertFalse(view.deleteCurrent());
    assertEquals(1 + 8, bits(view.lastStatus()));
  }

  @Test
  void insertAllStopsAtTheFirstRefusalAndTheSessionGoesOn() {
    List<ViewRecord> batch = List.of(person(view, 4, "P4"), person(view, 2, "taken"),
        person(view, 5, "P5"), person(view, 6, "P6"));
    assertFalse(view.insertAll(batch));
    assertTrue(view.lastStatus().failed());
    assertEquals(List.of(1L, 2L, 3L, 4L), ids(view.readAll()), "records after the refusal stay out");
    assertTrue(view.insertAll(List.of()), "an empty batch is a success");
    assertTrue(view.insertAll(List.of(person(view, 5, "P5"))));
    assertEquals(List.of(1L, 2L, 3L, 4L, 5L), ids(view.readAll()));
  }

  @Test
  void deleteByKeysSkipsMissingKeys() {
    assertTrue(view.deleteByKeys(List.of(view.keyRecord(7L), view.keyRecord(8L)), 1),
        "no key present: no failure bit");
    assertTrue(view.deleteByKeys(List.of(view.keyRecord(3L), view.keyRecord(9L),
        view.keyRecord(1L)), 1));
    assertEquals(List.of(2L), ids(view.readAll()));
  }

  @Test
  void deleteByKeysStopsAtARefusedDeleteAndTheSessionGoesOn() {
    // Another transaction ends record 2 first; this one still sees it, and
    // may not end it a second time.
    try (Transaction other = session.begin(); TableView theirs = people(other)) {
      theirs.seek(2L);
      assertTrue(theirs.deleteCurrent());
      assertFalse(view.deleteByKeys(List.of(view.keyRecord(1L), view.keyRecord(2L),
          view.keyRecord(3L)), 1));
      assertTrue(view.lastStatus().failed());
      assertEquals(List.of(2L, 3L), ids(view.readAll()), "1 deleted, 3 left after the refusal");
      assertEquals(List.of(1L, 3L), ids(theirs.readAll()), "its own delete of 2 and no other");
    }
  }

  @Test
  void deleteMatchingWithNoKeyFieldsDeletesEveryRecord() {
    view.seek(2L);
    assertTrue(view.deleteMatching(view.newRecord(), 0));
    assertTrue(view.readAll().isEmpty());
    view.beforeFirst();
    assertEquals(ViewStatus.AFTER_LAST, bits(view.moveBy(1).status()));
  }

  @Test
  void deleteMatchingDeletesOnlyEqualKeys() {
    assertTrue(view.deleteMatching(2L));
    assertEquals(List.of(1L, 3L), ids(view.readAll()));
    assertTrue(view.deleteMatching(9L), "nothing matches: no failure");
    assertEquals(List.of(1L, 3L), ids(view.readAll()));
  }

  @Test
  void emptyTableHasNothingToStepOnto() {
    try (Transaction other = session.begin()) {
      TableView cities = other.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
      cities.beforeFirst();
      MoveResult result = cities.moveBy(1);
      assertEquals(ViewStatus.AFTER_LAST, bits(result.status()));
      assertEquals(1, result.steps());
      assertTrue(cities.readAll().isEmpty());
    }
  }

  private static List<String> names(List<ViewRecord> records) {
    List<String> names = new java.util.ArrayList<>();
    for (ViewRecord r : records) names.add(r.getString("NAME"));
    return names;
  }
}
