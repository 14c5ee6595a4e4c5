package tarvo.kor;

import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/**
 * A fresh {@link TestDatabase} and an open session on it for every test,
 * closed afterwards (every test of a process shares its one library
 * session, one at a time).
 */
abstract class SessionFixture {
  Session session;

  @BeforeEach
  void openSession() {
    TestDatabase.write();
    session = TestDatabase.open();
  }

  @AfterEach
  void closeSession() {
    if (session != null) session.close();
  }

  /** PEOPLE ordered by ID, all fields. */
  static TableView people(Transaction tx) {
    return tx.open(ViewDefinition.of("PEOPLE").orderBy("ID", "BYNUMBER"));
  }

  static ViewRecord person(TableView view, long id, String name) {
    return view.newRecord().setLong("ID", id).setString("NAME", name);
  }

  /** Commits PEOPLE with IDs 1..count, named "P1", "P2", .... */
  void commitPeople(int count) {
    try (Transaction tx = session.begin()) {
      try (TableView view = people(tx)) {
        List<ViewRecord> batch = new ArrayList<>();
        for (int id = 1; id <= count; id++) batch.add(person(view, id, "P" + id));
        if (!view.insertAll(batch)) throw new AssertionError("the batch was refused");
      }
      tx.commit();
    }
  }

  static List<Long> ids(List<ViewRecord> records) {
    List<Long> ids = new ArrayList<>();
    for (ViewRecord r : records) ids.add(r.getLong("ID"));
    return ids;
  }
}
