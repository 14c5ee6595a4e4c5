package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Opening, ending and sharing a session. */
class SessionTest extends SessionFixture {
  @TempDir Path elsewhere;

  @Test
  void openingAnotherDirectorySaysWhereToStartTheJvm() throws IOException {
    session.close();
    Files.write(elsewhere.resolve("CONFIG.ZSR"), TestDatabase.CONFIG.getBytes(StandardCharsets.US_ASCII));
    KorException e = assertThrows(KorException.class, () -> Session.open(elsewhere));
    String message = e.getMessage();
    assertTrue(message.contains(elsewhere.toRealPath().toString()), message);
    assertTrue(message.contains("current directory"), message);
    assertTrue(message.contains("start the JVM in the database directory"), message);
    assertFalse(KorLib.KorDone(), "the library was never asked");
  }

  @Test
  void openingADirectoryWithoutConfigurationSaysSo() throws IOException {
    session.close();
    Files.delete(TestDatabase.HERE.resolve("CONFIG.ZSR"));
    KorException e = assertThrows(KorException.class, TestDatabase::open);
    assertTrue(e.getMessage().contains("holds no CONFIG.ZSR"), e.getMessage());
    assertFalse(Files.exists(TestDatabase.HERE.resolve("CONFIG.ZSR")),
        "the engine did not create an empty one");
  }

  @Test
  void configurationTheEngineRefusesIsReportedAndAFixedOneOpens() throws IOException {
    session.close();
    Path config = TestDatabase.HERE.resolve("CONFIG.ZSR");
    Files.write(config, TestDatabase.CONFIG.replace("INETPORT 7000", "INETPORT 99999")
        .getBytes(StandardCharsets.US_ASCII));
    KorException e = assertThrows(KorException.class, TestDatabase::open);
    assertTrue(e.getMessage().contains("EReaderSyntaxError"), e.getMessage());
    TestDatabase.write();
    session = TestDatabase.open();
    assertEquals(4, session.tables().size());
  }

  @Test
  void secondSessionInTheProcessIsRefusedInJava() {
    IllegalStateException e = assertThrows(IllegalStateException.class, TestDatabase::open);
    assertTrue(e.getMessage().contains("already open"), e.getMessage());
    assertEquals(4, session.tables().size(), "the first session goes on");
  }

  @Test
  void sessionCanBeOpenedAgainAfterClose() {
    session.close();
    session = TestDatabase.open();
    assertTrue(session.isOpen());
    assertEquals(4, session.tables().size());
  }

  @Test
  void wrongGreetingEndsTheSessionAndReleasesTheTransport() {
    session.close();
    InProcessTransport transport = InProcessTransport.open(TestDatabase.HERE);
    byte[] first = new byte[4];
    assertEquals(4, transport.receive(first, 0, 4));  // the greeting now starts mid-way
    assertThrows(SessionEndedException.class,
        () -> Session.over(transport, Session.DEFAULT_CHARSET));
    assertFalse(KorLib.KorDone(), "the transport was closed with the failed session");
    session = TestDatabase.open();
  }

  @Test
  void closeRollsBackAndClosesEverythingThenEndsTheEngineSession() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    assertTrue(view.insert(person(view, 1, "gone")));
    Transaction nested = tx.beginNested();
    TableView nestedView = people(nested);

    session.close();
    assertEquals(0, session.closeMask(), "nothing was left for the engine to end");
    assertFalse(tx.isLive(), "rolled back");
    assertThrows(IllegalStateException.class, view::status);
    assertThrows(IllegalStateException.class, nestedView::status);
    assertFalse(KorLib.KorDone(), "KorDone was called");

    session = TestDatabase.open();
    try (Transaction check = session.begin(); TableView again = people(check)) {
      assertTrue(again.readAll().isEmpty(), "the insert was rolled back");
    }
  }

  @Test
  void closingTwiceIsHarmlessAndEveryHandleIsClosedAfter() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    RecordIterator it = view.records();
    Counter counter = session.counter("INVOICE");
    session.close();
    session.close();
    List<Runnable> calls = List.of(session::begin, session::tables, session::comparators,
        session::counters, () -> session.table("PEOPLE"), tx::commit, tx::rollback,
        tx::beginNested, () -> people(tx), view::status, view::beforeFirst,
        () -> view.fetch(1), view::current, () -> view.insert(view.newRecord()),
        it::hasNext, counter::next, () -> counter.raiseTo(5));
    for (Runnable call : calls) assertThrows(IllegalStateException.class, call::run);
    tx.close();
    view.close();
    it.close();
  }

  @Test
  void handlesAreReusedMostRecentlyFreedFirst() {
    Transaction first = session.begin();
    Transaction second = session.begin();
    assertEquals(List.of(1, 2), List.of(first.handle(), second.handle()));
    first.commit();
    Transaction third = session.begin();
    assertEquals(1, third.handle());
    third.rollback();
    second.rollback();
  }

  @Test
  void sessionEndedByTheEngineSaysSoFromEveryCall() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    session.client().sendRaw(new byte[] {99, 0, 0, 0});  // no such command
    SessionEndedException e = assertThrows(SessionEndedException.class,
        () -> session.client().readRawInt());
    assertTrue(e.getMessage().contains("ended the session"), e.getMessage());
    assertTrue(session.isEnded());
    List<Runnable> calls = List.of(session::begin, view::status, tx::beginNested,
        () -> session.counter("INVOICE"));
    for (Runnable call : calls) {
      SessionEndedException again = assertThrows(SessionEndedException.class, call::run);
      assertTrue(again.getMessage().contains("has ended"), again.getMessage());
    }
    view.close();
    tx.close();
    session.close();
    assertFalse(KorLib.KorDone(), "close released the library's session");
  }

  @Test
  void librarySessionOpenedBehindTheClientsBackIsReported() {
    session.close();
    assertTrue(KorLib.KorInit());
    IllegalStateException e = assertThrows(IllegalStateException.class, TestDatabase::open);
    assertTrue(e.getMessage().contains("KorLib.KorDone"), e.getMessage());
    assertTrue(KorLib.KorDone());
    session = TestDatabase.open();
    assertTrue(session.isOpen(), "the failed open left nothing behind");
  }

  @Test
  void libraryClosedBehindTheClientsBackEndsTheSession() {
    assertTrue(KorLib.KorDone());
    SessionEndedException e = assertThrows(SessionEndedException.class, session::begin);
    assertTrue(e.getMessage().contains("takes no more requests"), e.getMessage());
    assertTrue(session.isEnded());
    session.close();
    session = TestDatabase.open();
  }

  @Test
  void replyOutOfStepEndsTheSessionInJava() {
    Transaction tx = session.begin();
    TableView view = people(tx);
    // A next-counter-value request whose reply (0, then 8 bytes of 100) the
    // client does not know about: the view's next status reads its 0, the
    // one after that the value.
    session.client().sendRaw(new byte[] {25, 0, 0, 0, 1, 0, 0, 0});
    assertEquals(0, view.status().bits());
    SessionEndedException e = assertThrows(SessionEndedException.class, view::status);
    assertTrue(e.getMessage().contains("status 100"), e.getMessage());
    assertThrows(SessionEndedException.class, view::status);
    session.close();
    assertFalse(KorLib.KorDone());
  }

  @Test
  void threadsShareOneSessionOneCallAtATime() throws Exception {
    int threads = 4;
    int perThread = 25;
    ExecutorService pool = Executors.newFixedThreadPool(threads);
    try {
      List<Future<Boolean>> results = new ArrayList<>();
      for (int t = 0; t < threads; t++) {
        final int first = t * perThread + 1;
        Callable<Boolean> work = () -> {
          boolean all = true;
          try (Transaction tx = session.begin()) {
            try (TableView view = people(tx)) {
              for (int id = first; id < first + perThread; id++) {
                all &= view.insert(person(view, id, "T"));
              }
            }
            tx.commit();
          }
          return all;
        };
        results.add(pool.submit(work));
      }
      for (Future<Boolean> result : results) assertTrue(result.get());
    } finally {
      pool.shutdown();
    }
    try (Transaction tx = session.begin(); TableView view = people(tx)) {
      assertEquals(threads * perThread, view.readAll().size());
    }
  }
}
