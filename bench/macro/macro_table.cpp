// Folds the figure lines of the macro benchmark's programs
// ("peer<TAB>N<TAB>workload<TAB>value", one program run per line group)
// into one Markdown table per N: for each workload and peer the median of
// the runs with their minimum and maximum, and the peer's median divided by
// Kor's (the C peer by Kor from C++, the Java peers by Kor from Java; above
// 1 means the peer is slower). Below the wall-clock rows come the same
// workloads in CPU time of the process (user + system, every thread).
//
//   macro_table < figures.tsv

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TPeer {
  const char* Name;
  const char* Reference;  // the Kor it is compared with; nullptr for Kor itself
};

const TPeer kPeers[] = {
    {"kor-c++", nullptr},        {"sqlite-c", "kor-c++"}, {"kor-java", nullptr},
    {"sqlite-jdbc", "kor-java"}, {"h2", "kor-java"},
};

struct TRow {
  const char* Key;
  const char* Label;
};

const TRow kRows[] = {
    {"W1", "W1 insert N, one transaction (us/record)"},
    {"W2", "W2 N point lookups by ID (us/lookup)"},
    {"W3", "W3 scan in ID order (us/record)"},
    {"W4", "W4 scan in NAME order (us/record)"},
    {"W5", "W5 update N/10 AMOUNT, one transaction (us/record)"},
    {"W6", "W6 delete N/10, one transaction (us/record)"},
    {"W7", "W7 restart and first record (us)"},
    {"peak_kb", "peak memory (MB, VmHWM)"},
    {"W1cpu", "W1 CPU (us/record)"},
    {"W2cpu", "W2 CPU (us/lookup)"},
    {"W3cpu", "W3 CPU (us/record)"},
    {"W4cpu", "W4 CPU (us/record)"},
    {"W5cpu", "W5 CPU (us/record)"},
    {"W6cpu", "W6 CPU (us/record)"},
    {"W7cpu", "W7 CPU (us)"},
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Number(double value) {
  char text[32];
  if (value >= 1000) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else if (value >= 10) {
    std::snprintf(text, sizeof text, "%.1f", value);
  } else {
    std::snprintf(text, sizeof text, "%.2f", value);
  }
  return text;
}

}  // namespace

int main() {
  // N -> peer -> workload -> values
  std::map<long, std::map<std::string, std::map<std::string, std::vector<double>>>> figures;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string peer, workload;
    long n = 0;
    double value = 0;
    if (!(fields >> peer >> n >> workload >> value)) continue;
    if (workload == "peak_kb") value /= 1024.0;
    figures[n][peer][workload].push_back(value);
  }
  for (auto& [n, peers] : figures) {
    size_t runs = 0;
    for (auto& [peer, workloads] : peers) runs = std::max(runs, workloads["W1"].size());
    std::printf(
        "\nN = %ld (median of %zu runs, [min-max]; xR = peer / Kor, above 1 the peer is "
        "slower)\n\n",
        n, runs);
    std::printf("| workload |");
    for (const TPeer& peer : kPeers) {
      if (peers.count(peer.Name) != 0) std::printf(" %s |", peer.Name);
    }
    std::printf("\n|---|");
    for (const TPeer& peer : kPeers) {
      if (peers.count(peer.Name) != 0) std::printf("---|");
    }
    std::printf("\n");
    for (const TRow& row : kRows) {
      std::printf("| %s |", row.Label);
      for (const TPeer& peer : kPeers) {
        auto found = peers.find(peer.Name);
        if (found == peers.end()) continue;
        const std::vector<double>& values = found->second[row.Key];
        if (values.empty()) {
          std::printf(" - |");
          continue;
        }
        const double median = Median(values);
        std::string cell = Number(median);
        if (values.size() > 1) {
          cell += " [" + Number(*std::min_element(values.begin(), values.end())) + "-" +
                  Number(*std::max_element(values.begin(), values.end())) + "]";
        }
        if (peer.Reference != nullptr) {
          auto reference = peers.find(peer.Reference);
          if (reference != peers.end() && !reference->second[row.Key].empty()) {
            const double kor = Median(reference->second[row.Key]);
            if (kor > 0) cell += " x" + Number(median / kor);
          }
        }
        std::printf(" %s |", cell.c_str());
      }
      std::printf("\n");
    }
  }
  return 0;
}
