package tarvo.kor;

import java.util.ConcurrentModificationException;
import java.util.Iterator;
import java.util.List;
import java.util.NoSuchElementException;

/**
 * Iterates a view's records in order, a page at a time: one fetch request
 * brings up to a page of records, and the first page comes with the
 * positioning in the same request. While it runs the iterator owns the
 * view's position, which stands after the page read last; other calls that
 * move the view disturb it.
 */
public final class RecordIterator implements Iterator<ViewRecord>, AutoCloseable {
  private final TableView view;
  private final ViewRecord startKey;
  private final int startKeyFields;
  private final int pageSize;
  private List<ViewRecord> page;
  private int index;
  private ViewStatus afterPage;
  private boolean closed;

  RecordIterator(TableView view, ViewRecord startKey, int startKeyFields, int pageSize) {
    this.view = view;
    this.startKey = startKey;
    this.startKeyFields = startKeyFields;
    this.pageSize = pageSize;
  }

  @Override
  public boolean hasNext() {
    Session session = view.session();
    session.enter();
    try {
      checkOpen();
      if (page != null && index < page.size()) return true;
      if (afterPage != null && !afterPage.onRecord()) return false;
      fetchPage();
      return index < page.size();
    } finally {
      session.exit();
    }
  }

  @Override
  public ViewRecord next() {
    if (!hasNext()) throw new NoSuchElementException("the view has no more records");
    return page.get(index++);
  }

  /** Ends the iteration; the view stays open. Does nothing the second time. */
  @Override
  public void close() {
    closed = true;
  }

  private void checkOpen() {
    if (closed) throw new IllegalStateException("the record iterator is closed");
    view.checkOpen();
  }

  private void fetchPage() {
    ProtocolClient client = view.session().client();
    FetchResult result;
    if (page == null) {
      result = startKey == null ? client.fetchFirst(view.handle(), pageSize, view.layout())
          : client.fetchFrom(view.handle(), startKey.bytes(), startKeyFields, pageSize,
              view.layout());
    } else {
      result = client.fetch(view.handle(), true, pageSize, view.layout());
    }
    view.remember(result);
    if (result.status().failed()) {
      throw new ConcurrentModificationException(view + " lost its position while it was"
          + " iterated (" + result.status() + ")");
    }
    page = result.records();
    index = 0;
    afterPage = result.status();
  }
}
