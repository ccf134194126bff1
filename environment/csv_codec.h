// The C++ halves of the CSV codec: the routines `csv-decode` (text to rows, columns or records)
// and `csv-encode` (blocks, maps and objects to text), which environment/0280-csv.zub binds for
// `load-csv` and `to-csv`.
#pragma once

namespace zub::csv_codec {

// Registers both routines by name. Once per start, with the other routines.
void register_routines();

}  // namespace zub::csv_codec
