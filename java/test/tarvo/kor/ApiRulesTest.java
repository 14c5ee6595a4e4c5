package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.ConcurrentModificationException;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.function.Supplier;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * The client's own rules, seen through a transport that counts the calls
 * reaching the library: a request is one send, a page of records one fetch,
 * and a call refused in Java costs no call at all.
 */
class ApiRulesTest extends SessionFixture {
  private CountingTransport counting;

  @BeforeEach
  void countCalls() {
    session.close();
    counting = new CountingTransport(InProcessTransport.open(TestDatabase.HERE));
    session = Session.over(counting, Session.DEFAULT_CHARSET);
  }

  /** Runs {@code call}, which must throw {@code expected} without reaching the library. */
  private void refusedInJava(Class<? extends Throwable> expected, Executable call) {
    int before = counting.calls();
    assertThrows(expected, call);
    assertEquals(before, counting.calls(), "the library was called");
  }

  @Test
  void eachRequestIsOneSendAndItsReplyOneReceive() {
    session.tables();  // the catalogue is read once per session
    session.comparators();
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      int sends = counting.sends;
      int receives = counting.receives;
      assertTrue(view.insert(person(view, 1, "one")));
      view.status();
      view.current();
      view.fetch(10);
      assertEquals(4, counting.sends - sends);
      assertEquals(4, counting.receives - receives);
    }
  }

  @Test
  void iterationFetchesAPageAtATime() {
    commitPeople(100);
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      view.setPageSize(16);
      int sends = counting.sends;
      List<Long> seen = new ArrayList<>();
      try (RecordIterator it = view.records()) {
        while (it.hasNext()) seen.add(it.next().getLong("ID"));
        assertThrows(NoSuchElementException.class, it::next);
      }
      assertEquals(100, seen.size());
      assertEquals(1L, seen.get(0));
      assertEquals(100L, seen.get(99));
      // Positioning and the first page in one send, then 6 further pages.
      assertEquals(7, counting.sends - sends);

      sends = counting.sends;
      int receives = counting.receives;
      view.setPageSize(TableView.defaultPageSize(view.layout()));
      assertEquals(100, view.readAll().size());
      assertEquals(1, counting.sends - sends, "a hundred small records fit one page");
      assertTrue(counting.receives - receives <= 3, "one receive per pipelined reply");
    }
  }

  @Test
  void requestsAndRepliesOfMegabytesGoInParts() {
    String text = "Zażółć gęślą jaźń ".repeat(300).substring(0, 5000);
    try (Transaction tx = session.begin()) {
      try (TableView wide = tx.open(ViewDefinition.of("WIDE").orderBy("N", "BYNUMBER"))) {
        List<ViewRecord> batch = new ArrayList<>();
        for (int n = 1; n <= 250; n++) batch.add(wide.newRecord().set("N", n).set("TEXT", text));
        int sends = counting.sends;
        assertTrue(wide.insertAll(batch), "1.25 MB in one request");
        assertEquals(1, counting.sends - sends);
      }
      tx.commit();
    }
    try (Transaction tx = session.begin();
         TableView wide = tx.open(ViewDefinition.of("WIDE").orderBy("N", "BYNUMBER"))) {
      wide.seek(1);
      int receives = counting.receives;
      FetchResult all = wide.fetch(300);
      assertTrue(counting.receives - receives >= 2, "more than the largest buffer at once");
      assertEquals(250, all.records().size());
      assertEquals(ViewStatus.AFTER_LAST, all.status().bits());
      for (int n = 1; n <= 250; n++) {
        ViewRecord r = all.records().get(n - 1);
        assertEquals(n, r.getLong("N"));
        assertEquals(text, r.getString("TEXT"));
      }
      assertEquals(ViewStatus.AFTER_LAST, wide.status().bits(), "a small reply after it");
    }
  }

  @Test
  void iterationFromAKeyStartsThere() {
    commitPeople(10);
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      view.setPageSize(3);
      List<Long> seen = new ArrayList<>();
      try (RecordIterator it = view.recordsFrom(view.keyRecord(8L), 1)) {
        it.forEachRemaining(r -> seen.add(r.getLong("ID")));
      }
      assertEquals(List.of(8L, 9L, 10L), seen);
      try (RecordIterator it = view.recordsFrom(view.keyRecord(11L), 1)) {
        assertFalse(it.hasNext());
      }
    }
  }

  @Test
  void iterationThatLosesItsPositionSaysSo() {
    commitPeople(3);
    try (Transaction tx = session.begin()) {
      TableView view = people(tx);
      TableView other = people(tx);
      view.setPageSize(1);
      RecordIterator it = view.records();
      assertEquals(1L, it.next().getLong("ID"));  // the view now stands on record 2
      other.seek(2L);
      assertTrue(other.deleteCurrent());
      assertThrows(ConcurrentModificationException.class, it::hasNext);
    }
  }

  @Test
  void closedHandlesNeverReachTheLibrary() {
    commitPeople(2);
    Transaction tx = session.begin();
    TableView view = people(tx);
    RecordIterator it = view.records();
    it.close();
    it.close();
    refusedInJava(IllegalStateException.class, it::hasNext);
    refusedInJava(IllegalStateException.class, it::next);

    RecordIterator open = view.records();
    view.close();
    view.close();
    for (Executable call : List.<Executable>of(view::status, view::beforeFirst, view::afterLast,
        view::unposition, () -> view.moveBy(1), () -> view.fetch(1), () -> view.fetchBackward(1),
        view::current, view::deleteCurrent, () -> view.insert(view.newRecord()),
        () -> view.update(view.newRecord()), () -> view.insertAll(List.of()),
        () -> view.deleteByKeys(List.of(), 0), () -> view.deleteMatching(view.newRecord(), 0),
        () -> view.seek(1L), () -> view.seekBackward(1L), view::records, view::readAll,
        () -> view.setPageSize(2), open::hasNext)) {
      refusedInJava(IllegalStateException.class, call);
    }
    tx.commit();
    tx.close();
    refusedInJava(IllegalStateException.class, tx::commit);
    refusedInJava(IllegalStateException.class, tx::beginNested);
    refusedInJava(IllegalStateException.class, () -> people(tx));
  }

  @Test
  void wrongArgumentsAreRefusedBeforeAnythingIsSent() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    TableView cities = tx.open(ViewDefinition.of("CITIES").orderBy("ID", "BYNUMBER"));
    ViewRecord city = cities.newRecord();
    refusedInJava(NullPointerException.class, () -> view.insert(null));
    refusedInJava(NullPointerException.class, () -> view.insertAll(null));
    refusedInJava(NullPointerException.class, () -> view.insertAll(java.util.Arrays.asList(
        view.newRecord(), null)));
    refusedInJava(NullPointerException.class, () -> view.seek((ViewRecord) null, 0));
    refusedInJava(IllegalArgumentException.class, () -> view.insert(city));
    refusedInJava(IllegalArgumentException.class, () -> view.update(city));
    refusedInJava(IllegalArgumentException.class, () -> view.insertAll(List.of(city)));
    refusedInJava(IllegalArgumentException.class, () -> view.seek(view.newRecord(), 2));
    refusedInJava(IllegalArgumentException.class, () -> view.seek(view.newRecord(), -1));
    refusedInJava(IllegalArgumentException.class, () -> view.seek(1L, 2L));
    refusedInJava(IllegalArgumentException.class, () -> view.seek("one"));
    refusedInJava(IllegalArgumentException.class, () -> view.deleteByKeys(List.of(), 2));
    refusedInJava(IllegalArgumentException.class, () -> view.deleteMatching(view.newRecord(), 9));
    refusedInJava(IllegalArgumentException.class, () -> view.fetch(0));
    refusedInJava(IllegalArgumentException.class, () -> view.setPageSize(0));
    refusedInJava(IllegalArgumentException.class, () -> view.keyField(2));
    refusedInJava(IllegalArgumentException.class, () -> view.newRecord().set("NOPE", 1L));
    refusedInJava(NullPointerException.class, () -> tx.open(null));
    assertFalse(session.isEnded());
    tx.close();
  }

  @Test
  void viewDefinitionsTheEngineWouldEndTheSessionForAreRefusedInJava() {
    session.tables();  // read the catalogue before counting
    session.comparators();
    Transaction tx = session.begin();
    List<Supplier<ViewDefinition>> refused = List.of(
        () -> ViewDefinition.of("PEOPLE").fields(new String[0]).orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").fields(0).orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").fields(1, 6).orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").fields("ID", "NOPE").orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").fields("ID", "id").orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").fields("NAME").orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE"),
        () -> ViewDefinition.of("PEOPLE").orderBy("NAME", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").orderBy("ID", "POLISH"),
        () -> ViewDefinition.of("PEOPLE").orderBy("HEIGHT", "BYNUMBER"),
        () -> ViewDefinition.of("PEOPLE").orderBy("ID", "NOPE"),
        () -> ViewDefinition.of("PEOPLE").orderBy(1, 0),
        () -> ViewDefinition.of("PEOPLE").orderBy(1, 4),
        () -> ViewDefinition.of("PEOPLE").orderBy(0, 1),
        () -> ViewDefinition.of("NOPE").orderBy("ID", "BYNUMBER"),
        () -> ViewDefinition.of(0).orderBy(1, 1),
        () -> ViewDefinition.of(5).orderBy(1, 1));
    for (Supplier<ViewDefinition> definition : refused) {
      refusedInJava(IllegalArgumentException.class, () -> tx.open(definition.get()));
    }
    TableView byNumbers = tx.open(ViewDefinition.of(1).fields(2, 1).orderBy(1, 1));
    assertEquals("[NAME STRING 20, ID INTEGER 8]", byNumbers.layout().fields().toString());
    assertEquals("ID", byNumbers.keyField(1).name());
    assertFalse(session.isEnded());
    tx.close();
  }

  @Test
  void closingTheSessionRollsBackSendsCloseSessionAndReleasesTheTransport() {
    Transaction tx = session.begin();
    people(tx);
    session.close();
    assertEquals(0, session.closeMask());
    assertEquals(1, counting.closes);
    session.close();
    assertEquals(1, counting.closes);
  }
}
