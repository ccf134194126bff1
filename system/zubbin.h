// ZUBBIN: the binary form of values. One value (with its nested series, words, objects and
// functions) is written so that it loads back into the same structure, series and contexts met
// twice staying shared and cycles kept, as references to the path where they were first written.
// Two forms share one header: the classic form, records of 32-bit little-endian words, and the
// compact form, records of bytes with LEB128 and zigzag integers.
//
// The reader trusts nothing in the data: every length, count, index and offset is checked against
// the bytes left and the tables read, so truncated or forged data raises script
// zb-invalid-record (with the 1-based offset of the offending byte), never a read past the end,
// an allocation the data cannot back, or a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zub::zubbin {

// How bound words and definition records are read: codec mode for data from a program, start-up
// mode for the environment the binary carries (definition records accepted, bound words named by
// the target block's cells).
enum class Mode { codec, start_up };

inline constexpr uint8_t kFlagCompact = 1;
inline constexpr uint8_t kFlagCompressed = 2;
inline constexpr uint8_t kFlagSymbols = 4;

// A new binary! holding the value in the compact (or classic) form. Raises access no-codec for a
// value that cannot be written (routine!, triple!, handle! ...), internal too-deep for data nested
// beyond what mold and copy take. May collect.
Cell encode(const Cell& value, bool compact);
// The same data in C++ memory, for the build step. May collect.
std::vector<uint8_t> encode_bytes(const Cell& value, bool compact);

// Reads every record of the data into the target block (appended at its tail; definition records
// in start-up mode leave no cell). The bytes must not lie in a series. Bad data raises script
// invalid-data (no magic, bad compressed data) or zb-invalid-record. May collect.
void decode(const uint8_t* data, size_t size, NodeId target, Mode mode);

// The value a binary! holds from its head: the single value, or a block when it holds another
// number of them. Raises script invalid-data, with the argument, for anything but a binary of
// more than 10 bytes. May collect.
Cell decode_value(const Cell& binary);

// The compressed form of ZUBBIN data (flag bit 1 set, the rest packed by the runtime's LZ
// compressor), or the data itself when it is too small to pack. Used by the build step that
// stores the environment.
std::vector<uint8_t> compress(const uint8_t* data, size_t size);

}  // namespace zub::zubbin
