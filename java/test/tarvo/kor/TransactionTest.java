package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.Test;

/** What transactions see of each other, nesting, and the rules kept in Java. */
class TransactionTest extends SessionFixture {
  private List<Long> committedIds() {
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      return ids(view.readAll());
    }
  }

  @Test
  void uncommittedInsertsAreSkippedByOthersAndSnapshotsStayPut() {
    Transaction before = session.begin();
    TableView early = people(before);
    try (Transaction writer = session.begin()) {
      try (TableView view = people(writer)) {
        assertTrue(view.insert(person(view, 1, "new")));
        assertEquals(List.of(), committedIds(), "not committed yet");
      }
      writer.commit();
    }
    assertEquals(List.of(1L), committedIds(), "a later transaction sees the commit");
    assertEquals(List.of(), ids(early.readAll()), "an earlier snapshot does not");
    before.close();
  }

  @Test
  void uncommittedDeletesStillShowToOthers() {
    commitPeople(2);
    try (Transaction writer = session.begin(); TableView view = people(writer)) {
      view.seek(1L);
      assertTrue(view.deleteCurrent());
      assertEquals(List.of(2L), ids(view.readAll()));
      assertEquals(List.of(1L, 2L), committedIds());
    }
    assertEquals(List.of(1L, 2L), committedIds(), "closing rolled the delete back");
  }

  @Test
  void keyFreedByAVisibleDeleteCanBeTakenAgain() {
    commitPeople(1);
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      assertFalse(view.insert(person(view, 1, "again")));
      view.seek(1L);
      assertTrue(view.deleteCurrent());
      assertTrue(view.insert(person(view, 1, "again")));
      assertEquals("again", view.current().getString("NAME"));
    }
  }

  @Test
  void deleteThroughOneViewUnpositionsAnotherOnTheSameRecord() {
    commitPeople(3);
    try (Transaction tx = session.begin()) {
      TableView first = people(tx);
      TableView second = people(tx);
      first.seek(2L);
      second.seek(2L);
      assertTrue(first.deleteCurrent());
      assertEquals(ViewStatus.NO_POSITION, second.status().bits());
      second.seek(3L);
      assertEquals(0, second.status().bits());
    }
  }

  @Test
  void nestedTransactionSeesItsParentAndCommitsIntoIt() {
    try (Transaction parent = session.begin()) {
      try (TableView outer = people(parent)) {
        assertTrue(outer.insert(person(outer, 1, "parent")));
        try (Transaction nested = parent.beginNested()) {
          try (TableView inner = people(nested)) {
            assertEquals(List.of(1L), ids(inner.readAll()));
            assertTrue(inner.insert(person(inner, 2, "nested")));
          }
          nested.commit();
        }
        assertEquals(List.of(1L, 2L), ids(outer.readAll()));
        try (Transaction discarded = parent.beginNested(); TableView inner = people(discarded)) {
          assertTrue(inner.insert(person(inner, 3, "dropped")));
        }  // closing rolls back
        assertEquals(List.of(1L, 2L), ids(outer.readAll()));
        assertEquals(List.of(), committedIds());
      }
      parent.commit();
    }
    assertEquals(List.of(1L, 2L), committedIds());
  }

  @Test
  void rulesThatWouldEndTheSessionAreRefusedInJava() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    IllegalStateException open = assertThrows(IllegalStateException.class, tx::commit);
    assertTrue(open.getMessage().contains("open view"), open.getMessage());
    assertThrows(IllegalStateException.class, tx::rollback);
    view.close();

    Transaction nested = tx.beginNested();
    IllegalStateException second = assertThrows(IllegalStateException.class, tx::beginNested);
    assertTrue(second.getMessage().contains("nested"), second.getMessage());
    assertThrows(IllegalStateException.class, tx::commit);
    assertThrows(IllegalStateException.class, tx::rollback);
    TableView nestedView = people(nested);
    assertThrows(IllegalStateException.class, nested::commit);
    nestedView.close();
    nested.commit();

    tx.commit();
    assertFalse(tx.isLive());
    List<Runnable> ended = List.of(tx::commit, tx::rollback, tx::beginNested, () -> people(tx),
        nested::commit);
    for (Runnable call : ended) assertThrows(IllegalStateException.class, call::run);
    tx.close();
    assertFalse(session.isEnded());
  }

  @Test
  void closingATransactionClosesItsViewsAndNestedTransactionFirst() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    Transaction nested = tx.beginNested();
    TableView nestedView = people(nested);
    assertTrue(nestedView.insert(person(nestedView, 1, "x")));
    tx.close();
    tx.close();
    assertFalse(view.isOpen());
    assertFalse(nestedView.isOpen());
    assertFalse(nested.isLive());
    assertFalse(tx.isLive());
    assertEquals(List.of(), committedIds());
  }

  @Test
  void nestedTransactionCanBeginAgainAfterTheFirstEnded() {
    try (Transaction tx = session.begin()) {
      tx.beginNested().rollback();
      tx.beginNested().commit();
      Transaction third = tx.beginNested();
      assertTrue(third.isLive());
      assertEquals(tx, third.parent());
    }
  }
}
