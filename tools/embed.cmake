# Turns one file into a C++ byte array, run at build time:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed.cmake
# The array is followed by its size; the text needs no terminating zero.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT} at build time; not to be edited.
#include <cstdint>
namespace zub::embedded {
extern const unsigned char ${SYMBOL}[] = {
    ${bytes}0x00};
extern const uint32_t ${SYMBOL}_size = ${size};
}  // namespace zub::embedded
")
