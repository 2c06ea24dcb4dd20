#include "report/style.h"

namespace busdesk::report {

std::string ReportCss() {
    return R"css(:root { color-scheme: light; }
html { background: #fff; color: #1a1a1a; }
body {
  font-family: "BusDesk Sans", "DejaVu Sans", sans-serif;
  font-size: 10.5pt;
  line-height: 1.4;
  margin: 0 auto;
  max-width: 190mm;
  padding: 12mm 10mm;
}
h1 { font-size: 17pt; margin: 0 0 3mm; }
h2 { font-size: 13.5pt; margin: 0 0 3mm; border-bottom: 1px solid #9aa7b8; padding-bottom: 1mm; }
h3 { font-size: 11pt; margin: 4mm 0 2mm; }
p { margin: 0 0 2mm; }
.report-head { margin-bottom: 8mm; }
.report-head dl { display: grid; grid-template-columns: max-content auto; gap: 1mm 6mm; margin: 0; }
.report-head dt { color: #4a5566; }
.report-head dd { margin: 0; }
section.part { margin-bottom: 8mm; }
table.grid { border-collapse: collapse; width: 100%; margin: 0 0 4mm; }
table.grid th, table.grid td {
  border: 1px solid #c3ccd8;
  padding: 1mm 1.6mm;
  text-align: left;
  vertical-align: top;
  overflow-wrap: anywhere;
}
table.grid thead th { background: #eef2f7; font-weight: bold; }
table.grid tbody tr:nth-child(even) td { background: #f8fafc; }
table.grid td.num, table.grid th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.ok { color: #1e6b2e; }
td.fail { color: #a32020; font-weight: bold; }
.muted { color: #5f6b7a; }
code, .hex { font-family: "DejaVu Sans Mono", monospace; font-size: 9pt; }
figure.trend { margin: 0 0 6mm; }
figure.trend svg { display: block; width: 100%; height: auto; }
figure.trend figcaption { font-size: 9.5pt; color: #4a5566; margin-top: 1mm; }
ul.notes { margin: 0; padding-left: 5mm; }
@page { size: A4; margin: 15mm; }
@media print {
  body { max-width: none; padding: 0; font-size: 9.5pt; }
  section.part + section.part { break-before: page; page-break-before: always; }
  thead { display: table-header-group; }
  tr, figure.trend, .report-head { break-inside: avoid; page-break-inside: avoid; }
  h2, h3 { break-after: avoid; page-break-after: avoid; }
  table.grid tbody tr:nth-child(even) td { background: none; }
  a { color: inherit; text-decoration: none; }
}
)css";
}

}  // namespace busdesk::report
