package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The client API over TCP: a real korserver process (the property
 * {@value #SERVER_PROPERTY} names it) serving {@link TestDatabase} from a
 * temporary directory on a free port of 127.0.0.1. Unlike the in-process
 * library, a server takes many sessions at once.
 */
class ServerSessionTest {
  static final String SERVER_PROPERTY = "tarvo.kor.server";

  private Path directory;
  private Process server;
  private int port;

  @BeforeEach
  void startServer() throws IOException {
    String program = System.getProperty(SERVER_PROPERTY);
    assumeTrue(program != null, "set -D" + SERVER_PROPERTY + " to the korserver program");
    directory = Files.createTempDirectory("kor-server-test");
    port = freePort();
    write("CONFIG.ZSR", TestDatabase.CONFIG.replace("INETPORT 7000", "INETPORT " + port));
    write("STRUCT.ZSR", TestDatabase.STRUCTURE);
    write("COUNTERS.ZSR", TestDatabase.COUNTERS);
    ProcessBuilder builder =
        new ProcessBuilder(program, "--bind=127.0.0.1", directory.toString()).redirectErrorStream(true);
    builder.environment().remove("LD_PRELOAD");  // the JVM's sanitizer preload is not the server's
    server = builder.start();
    BufferedReader output =
        new BufferedReader(new InputStreamReader(server.getInputStream(), StandardCharsets.UTF_8));
    String line = output.readLine();
    assertTrue(line != null && line.contains("listening on 127.0.0.1:" + port),
        "korserver did not start: " + line);
  }

  @AfterEach
  void stopServer() throws Exception {
    if (server == null) return;
    server.destroy();  // SIGTERM: an orderly shutdown
    assertTrue(server.waitFor(30, TimeUnit.SECONDS), "korserver did not stop");
    assertEquals(0, server.exitValue(), "korserver's exit code");
    String log = Files.readString(directory.resolve("KORLIB.OUT"), StandardCharsets.ISO_8859_1);
    assertTrue(log.contains("KORSERVER DOWN success"), log);
    try (var files = Files.list(directory)) {
      for (Path file : (Iterable<Path>) files::iterator) Files.delete(file);
    }
    Files.delete(directory);
  }

  /** A port the configuration accepts (1024..16383) that nothing listens on now. */
  private static int freePort() throws IOException {
    java.util.Random random = new java.util.Random();
    for (int attempt = 0; attempt < 100; attempt++) {
      int candidate = 10_000 + random.nextInt(16_383 - 10_000 + 1);
      try {
        new ServerSocket(candidate, 1, InetAddress.getLoopbackAddress()).close();
        return candidate;
      } catch (IOException taken) {
        // in use: try another
      }
    }
    throw new IOException("no free port in 10000..16383");
  }

  private void write(String name, String text) throws IOException {
    Files.write(directory.resolve(name), text.getBytes(StandardCharsets.ISO_8859_1));
  }

  private Session connect() {
    return Session.connect("127.0.0.1", port, Session.DEFAULT_CHARSET);
  }

  private static TableView people(Transaction tx) {
    return tx.open(ViewDefinition.of("PEOPLE").orderBy("ID", "BYNUMBER"));
  }

  private static List<Long> ids(TableView view) {
    List<Long> ids = new ArrayList<>();
    for (ViewRecord r : view.readAll()) ids.add(r.getLong("ID"));
    return ids;
  }

  @Test
  void theSameApiWorksOverTcp() {
    try (Session session = connect()) {
      assertEquals(List.of("PEOPLE", "CITIES", "WIDTHS", "WIDE"),
          session.tables().stream().map(TableInfo::name).toList());
      try (Transaction tx = session.begin()) {
        try (TableView view = people(tx)) {
          List<ViewRecord> batch = new ArrayList<>();
          for (long id = 1; id <= 300; id++) {
            batch.add(view.newRecord().setLong("ID", id).setString("NAME", "Łucja " + id));
          }
          assertTrue(view.insertAll(batch));
          assertFalse(view.insert(view.newRecord().setLong("ID", 7L)), "a taken unique key");
          view.seek(150L);
          assertEquals("Łucja 150", view.current().getString("NAME"));
        }
        tx.commit();
      }
      assertEquals(100L, session.counter("INVOICE").next());
    }
    try (Session later = connect();
        Transaction tx = later.begin();
        TableView view = people(tx)) {
      assertEquals(300, ids(view).size(), "committed over one connection, seen over the next");
    }
  }

  @Test
  void sessionsOfOneServerSeeOnlyWhatOthersCommitted() {
    try (Session writer = connect(); Session reader = connect()) {
      try (Transaction tx = writer.begin()) {
        try (TableView view = people(tx)) {
          assertTrue(view.insert(view.newRecord().setLong("ID", 1L).setString("NAME", "nowy")));
          try (Transaction look = reader.begin(); TableView other = people(look)) {
            assertEquals(List.of(), ids(other), "not committed yet");
            assertFalse(other.insert(other.newRecord().setLong("ID", 1L)),
                "the key is taken by a live insert of another session");
          }
        }
        tx.commit();
      }
      try (Transaction look = reader.begin(); TableView other = people(look)) {
        assertEquals(List.of(1L), ids(other));
      }
    }
  }

  @Test
  void aSessionWhoseServerWentAwayEndsWithAnException() throws Exception {
    Session session = connect();
    Transaction tx = session.begin();
    server.destroy();
    assertTrue(server.waitFor(30, TimeUnit.SECONDS));
    assertThrows(SessionEndedException.class, () -> people(tx));
    assertTrue(session.isEnded());
    session.close();  // harmless after the end
  }
}
