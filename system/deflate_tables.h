// The fixed tables of the DEFLATE format that the compressor and the inflater share: the base
// values and extra bits of the length and distance symbols, the order in which code-length code
// lengths are sent, and the lengths of the fixed Huffman codes.
#pragma once

#include <cstdint>

namespace zub::deflate::tables {

constexpr int kLitLenSymbols = 286;  // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int kDistSymbols = 30;
constexpr int kCodeLenSymbols = 19;
constexpr int kMaxBits = 15;
constexpr int kEndOfBlock = 256;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLenOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The fixed code's length for a literal/length symbol (0-287); every fixed distance code is 5.
constexpr uint8_t fixed_litlen_length(int symbol) { return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8; }

}  // namespace zub::deflate::tables
