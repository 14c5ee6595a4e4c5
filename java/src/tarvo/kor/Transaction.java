package tarvo.kor;

import java.util.ArrayList;
import java.util.List;

/**
 * A snapshot transaction. Views opened in it see the data committed when it
 * began and its own changes. A nested transaction sees its parent's data
 * and changes; committing it hands its changes to the parent, which commits
 * or rolls back the lot.
 *
 * <p>The engine's rules, kept here in Java (breaking one throws
 * {@link IllegalStateException} and leaves the transaction as it was): a
 * transaction has at most one live nested transaction; it can be committed
 * or rolled back only when its nested transaction has ended and no view on
 * it is open (a view that another open view looks up stays open until that
 * one closes).
 *
 * <p>{@link #close()} rolls back a transaction that has not ended, after
 * closing its nested transaction and its views.
 */
public final class Transaction implements AutoCloseable {
  private final Session session;
  private final Transaction parent;
  private final int handle;
  private Transaction child;
  /** Views on this transaction that the engine still holds, in opening order. */
  private final List<TableView> views = new ArrayList<>();
  private boolean ended;

  Transaction(Session session, Transaction parent, int handle) {
    this.session = session;
    this.parent = parent;
    this.handle = handle;
  }

  /** Begins a nested transaction; one at a time. */
  public Transaction beginNested() {
    session.enter();
    try {
      checkLive();
      if (child != null) {
        throw new IllegalStateException("transaction " + handle
            + " already has a live nested transaction; end it first");
      }
      child = new Transaction(session, this, session.client().beginNested(handle));
      return child;
    } finally {
      session.exit();
    }
  }

  /** Opens a table view in this transaction. */
  public TableView open(ViewDefinition definition) {
    if (definition == null) throw new NullPointerException("definition");
    session.enter();
    try {
      checkLive();
      ViewPlan plan = ViewPlan.resolve(session, definition);
      int view = session.client().openTable(plan.table, plan.fields, handle, plan.keyFields,
          plan.keyComparators, plan.lookups);
      TableView opened = new TableView(session, this, view, plan);
      views.add(opened);
      session.viewOpened(opened);
      return opened;
    } finally {
      session.exit();
    }
  }

  /** Commits: the changes become visible to transactions that begin later (or to the parent). */
  public void commit() {
    finish(true);
  }

  /** Rolls back: the changes are discarded. */
  public void rollback() {
    finish(false);
  }

  /** Whether the transaction is neither committed, rolled back nor closed. */
  public boolean isLive() {
    session.lockOnly();
    try {
      return !ended && !session.closed();
    } finally {
      session.exit();
    }
  }

  public Transaction parent() {
    return parent;
  }

  /**
   * Rolls the transaction back unless it has ended, closing its nested
   * transaction and its views first (and the views that look any of them
   * up). Does nothing the second time, or once the session is closed.
   */
  @Override
  public void close() {
    if (!tryEnter()) return;
    try {
      if (ended) return;
      if (child != null) child.close();
      // Each call releases the last view (after the views that look it up).
      while (!views.isEmpty()) views.get(views.size() - 1).closeWithHolders();
      if (session.client().ended()) {
        markEnded();
        return;
      }
      session.client().rollback(handle);
      markEnded();
    } finally {
      session.exit();
    }
  }

  private void finish(boolean commit) {
    session.enter();
    try {
      checkLive();
      if (child != null) {
        throw new IllegalStateException("transaction " + handle
            + " has a live nested transaction; commit or roll it back first");
      }
      if (!views.isEmpty()) {
        throw new IllegalStateException("transaction " + handle + " still has "
            + views.size() + " open view(s) " + views + "; close them first");
      }
      if (commit) {
        session.client().commit(handle);
      } else {
        session.client().rollback(handle);
      }
      markEnded();
    } finally {
      session.exit();
    }
  }

  private void markEnded() {
    ended = true;
    if (parent != null) {
      parent.child = null;
    } else {
      session.transactionEnded(this);
    }
  }

  /** Like {@link Session#enter} but false (lock not held) when the session is closed. */
  private boolean tryEnter() {
    try {
      session.enter();
      return true;
    } catch (IllegalStateException e) {
      return false;
    }
  }

  void checkLive() {
    if (ended) throw new IllegalStateException("transaction " + handle + " has ended");
  }

  void viewReleased(TableView view) {
    views.remove(view);
  }

  /** The engine's handle; tests use it to see handle reuse. */
  int handle() {
    return handle;
  }

  @Override
  public String toString() {
    return "transaction " + handle + (ended ? " (ended)" : "");
  }
}
