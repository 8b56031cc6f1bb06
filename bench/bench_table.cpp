#include "bench/bench_table.h"

#include <algorithm>
#include <cstdio>

namespace bench {

namespace {

std::string Format(const char* pszFormat, double dValue) {
  char szText[64];
  std::snprintf(szText, sizeof(szText), pszFormat, dValue);
  return szText;
}

std::string TargetText(const CRow& row) {
  if (row.goal == Goal::kNone) return "-";
  return (row.goal == Goal::kAtLeast ? ">= " : "<= ") + Format("%.2f", row.dTarget);
}

std::string MetText(const CRow& row) {
  if (row.goal == Goal::kNone) return "-";
  return Met(row) ? "met" : "MISSED";
}

std::string Padded(const std::string& str, size_t nWidth) {
  // Only ASCII goes into the table, so bytes are columns.
  return str + std::string(nWidth > str.size() ? nWidth - str.size() : 0, ' ');
}

}  // namespace

bool Met(const CRow& row) {
  switch (row.goal) {
    case Goal::kAtLeast:
      return row.dRatio >= row.dTarget;
    case Goal::kAtMost:
      return row.dRatio <= row.dTarget;
    case Goal::kNone:
      break;
  }
  return true;
}

size_t CTable::Missed() const {
  return static_cast<size_t>(std::count_if(m_vecRows.begin(), m_vecRows.end(), [](const CRow& row) {
    return !Met(row);
  }));
}

std::string CTable::Text() const {
  const std::vector<std::string> vecHeads = {"benchmark", "ours", "reference", "ratio", "target", "result"};
  std::vector<std::vector<std::string>> vecCells = {vecHeads};
  for (const CRow& row : m_vecRows) {
    vecCells.push_back({row.strBenchmark, row.strOurs, row.strReference, Format("%.2f", row.dRatio),
                        TargetText(row), MetText(row)});
  }
  std::vector<size_t> vecWidths(vecHeads.size(), 0);
  for (const auto& vecLine : vecCells) {
    for (size_t i = 0; i < vecLine.size(); ++i) vecWidths[i] = std::max(vecWidths[i], vecLine[i].size());
  }
  std::string strText;
  for (size_t nLine = 0; nLine < vecCells.size(); ++nLine) {
    std::string strLine = "|";
    for (size_t i = 0; i < vecCells[nLine].size(); ++i) strLine += " " + Padded(vecCells[nLine][i], vecWidths[i]) + " |";
    strText += strLine + "\n";
    if (nLine == 0) {
      std::string strRule = "|";
      for (size_t nWidth : vecWidths) strRule += std::string(nWidth + 2, '-') + "|";
      strText += strRule + "\n";
    }
  }
  strText += "\nratio:\n";
  for (const CRow& row : m_vecRows) strText += "  " + row.strBenchmark + ": " + row.strRatioMeaning + "\n";
  return strText;
}

std::string Seconds(double dSeconds) { return Format(dSeconds < 10 ? "%.3f s" : "%.1f s", dSeconds); }

std::string Rate(double dBytes, double dSeconds) {
  return Format("%.1f MB/s", dSeconds > 0 ? dBytes / dSeconds / 1e6 : 0.0);
}

std::string Mebibytes(double dBytes) { return Format("%.1f MiB", dBytes / (1024.0 * 1024.0)); }

}  // namespace bench
