// The result table: one row per figure, with its reference, their ratio
// and the target the ratio is held to.
#pragma once

#include <string>
#include <vector>

namespace bench {

// How a ratio is read against its target.
enum class Goal { kAtLeast, kAtMost, kNone };

struct CRow {
  std::string strBenchmark;
  std::string strOurs;
  std::string strReference;
  double dRatio;
  Goal goal;
  double dTarget;
  std::string strRatioMeaning;  // e.g. "xz time / ours"
};

class CTable {
 public:
  void Add(CRow row) { m_vecRows.push_back(std::move(row)); }
  // The table as text: aligned columns, then what each ratio means.
  std::string Text() const;
  size_t Missed() const;

 private:
  std::vector<CRow> m_vecRows;
};

bool Met(const CRow& row);

// "12.3 s", "340 MB/s", "512 MiB": figures as the table shows them.
std::string Seconds(double dSeconds);
std::string Rate(double dBytes, double dSeconds);
std::string Mebibytes(double dBytes);

}  // namespace bench
