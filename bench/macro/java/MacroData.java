// The seeded data of the macro benchmark, the same as bench/macro/workload.h
// gives the C++ programs: records i = 1..N with ID = i, NAME = 16 hex
// digits of mix(i), "-", i in 8 digits, AMOUNT = (mix(i) mod 1,000,000) /
// 100; the lookup, update and delete orders are Fisher-Yates shuffles of
// 1..N driven by splitmix64. Figures go to standard output, one line each:
// "peer<TAB>N<TAB>workload<TAB>value".
final class MacroData {
  static final long LOOKUP_SEED = 2;
  static final long UPDATE_SEED = 5;
  static final long DELETE_SEED = 6;
  static final int BATCH = 1000;

  private MacroData() {}

  static long mix(long x) {
    x += 0x9E3779B97F4A7C15L;
    x = (x ^ (x >>> 30)) * 0xBF58476D1CE4E5B9L;
    x = (x ^ (x >>> 27)) * 0x94D049BB133111EBL;
    return x ^ (x >>> 31);
  }

  static String nameOf(long id) {
    return String.format("%016x-%08d", mix(id), id);
  }

  static double amountOf(long id) {
    return Long.remainderUnsigned(mix(id), 1000000) / 100.0;
  }

  static double updatedAmount(long id) {
    return amountOf(id) + 1.0;
  }

  /** 1..n shuffled with splitmix64(seed), as Shuffled in workload.h. */
  static long[] shuffled(int n, long seed) {
    long[] ids = new long[n];
    for (int i = 0; i < n; ++i) ids[i] = i + 1;
    long state = seed;
    for (int i = n - 1; i > 0; --i) {
      state += 0x9E3779B97F4A7C15L;
      long z = state;
      z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
      z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
      z = z ^ (z >>> 31);
      int j = (int) Long.remainderUnsigned(z, i + 1);
      long t = ids[i];
      ids[i] = ids[j];
      ids[j] = t;
    }
    return ids;
  }

  /** Prints figures for one peer and one N. */
  static final class Report {
    private final String peer;
    private final long n;

    Report(String peer, long n) {
      this.peer = peer;
      this.n = n;
    }

    private final com.sun.management.OperatingSystemMXBean os =
        (com.sun.management.OperatingSystemMXBean) java.lang.management.ManagementFactory
            .getOperatingSystemMXBean();
    private long cpuStart;

    /** Starts a workload: the wall clock, and the CPU time of the process (every thread). */
    long start() {
      cpuStart = os.getProcessCpuTime();
      return System.nanoTime();
    }

    /** Wall-clock and CPU micros per operation since {@link #start}. */
    void perOp(String workload, long startNanos, long ops) {
      double micros = (System.nanoTime() - startNanos) / 1000.0;
      double cpu = (os.getProcessCpuTime() - cpuStart) / 1000.0;
      System.out.printf("%s\t%d\t%s\t%.4f%n", peer, n, workload, micros / ops);
      System.out.printf("%s\t%d\t%scpu\t%.4f%n", peer, n, workload, cpu / ops);
      System.out.flush();
    }

    /** VmHWM of the JVM process, from /proc. */
    void peak() throws java.io.IOException {
      long kb = 0;
      for (String line : java.nio.file.Files.readAllLines(java.nio.file.Path.of("/proc/self/status"))) {
        if (line.startsWith("VmHWM:")) kb = Long.parseLong(line.substring(6).trim().split("\\s+")[0]);
      }
      System.out.printf("%s\t%d\tpeak_kb\t%d%n", peer, n, kb);
    }
  }
}
