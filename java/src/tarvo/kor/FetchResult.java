package tarvo.kor;

import java.util.Collections;
import java.util.List;

/**
 * The records one fetch returned, in fetch order, and the view's status
 * after it: on a record when more remain, after the last (forward) or before
 * the first (backward) when the fetch reached the end, failed when the view
 * stood where no fetch can start.
 */
public final class FetchResult {
  private final List<ViewRecord> records;
  private final ViewStatus status;

  FetchResult(List<ViewRecord> records, ViewStatus status) {
    this.records = Collections.unmodifiableList(records);
    this.status = status;
  }

  public List<ViewRecord> records() {
    return records;
  }

  public ViewStatus status() {
    return status;
  }

  @Override
  public String toString() {
    return records.size() + " records, " + status;
  }
}
