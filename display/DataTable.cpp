// SPDX-License-Identifier: GPL-3.0-or-later
// Construction of plot data tables with their default x values and slot numbers.
#include "DataTable.h"

namespace kelvane {

Tdatatype NewDataTable(int count, int columns) {
  if (count < 0) count = 0;
  if (columns < 0) columns = 0;
  Tdatatype table(count + 1, columns + 1);
  for (int r = 0; r <= count; ++r) table.At(r, 0) = static_cast<float>(r);
  for (int k = 1; k <= columns; ++k) table.At(0, k) = static_cast<float>(k);
  return table;
}

}  // namespace kelvane
