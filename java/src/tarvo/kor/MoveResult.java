package tarvo.kor;

/**
 * The reply of a move: where the view stands, and how many steps it took
 * (positive forward, negative backward; the step that runs off either end
 * counts).
 */
public final class MoveResult {
  private final ViewStatus status;
  private final int steps;

  MoveResult(ViewStatus status, int steps) {
    this.status = status;
    this.steps = steps;
  }

  public ViewStatus status() {
    return status;
  }

  public int steps() {
    return steps;
  }

  @Override
  public String toString() {
    return steps + " steps, " + status;
  }
}
