// The byte encodings of binary!: base 2, 16, 58 and 64 text, written by enbase and read by debase
// and the lexer's #{...}, 2#{...} and 64#{...} literals. Decoders read code points of any unit
// width and never past the count they are given.
#include <array>

#include "datatypes/binary.h"
#include "runtime/series.h"

namespace zub::binary {
namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";
constexpr std::string_view kBase58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBase64Url = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// What a code point below 128 means to the base-58 and base-64 decoders.
constexpr uint8_t kInvalid = 0xFF;
constexpr uint8_t kSkip = 0xFE;

using Table = std::array<uint8_t, 128>;

constexpr Table digit_table(std::string_view alphabet) {
    Table t{};
    for (auto& e : t) e = kInvalid;
    for (const uint8_t c : {8, 9, 10, 12, 13, 32, 39}) t[c] = kSkip;
    for (size_t i = 0; i < alphabet.size(); ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    return t;
}
constexpr Table kBase58Digits = digit_table(kBase58);
constexpr Table kBase64Digits = digit_table(kBase64);
constexpr Table kBase64UrlDigits = digit_table(kBase64Url);

// Reads the code points of a text one after another, passing over ";" comments.
class Reader {
  public:
    explicit Reader(Text text) : text_(text) {}
    bool done() const { return at_ >= text_.count; }
    uint32_t peek() const { return series::code_point_at(text_.data, text_.unit, at_); }
    // The next code point that is not inside a comment; false at the end.
    bool next(uint32_t& cp) {
        while (!done()) {
            cp = peek();
            ++at_;
            if (cp != ';') return true;
            while (!done() && peek() != '\n') ++at_;
        }
        return false;
    }

  private:
    Text text_;
    uint32_t at_ = 0;
};

int hex_digit(uint32_t cp) {
    if (cp >= '0' && cp <= '9') return static_cast<int>(cp - '0');
    if (cp >= 'A' && cp <= 'F') return static_cast<int>(cp - 'A' + 10);
    if (cp >= 'a' && cp <= 'f') return static_cast<int>(cp - 'a' + 10);
    return -1;
}

bool decode_base2(Text text, std::string& out) {
    Reader in(text);
    uint32_t cp, bits = 0, count = 0;
    while (in.next(cp)) {
        if (cp <= 32) continue;
        if (cp != '0' && cp != '1') return false;
        bits = bits << 1 | (cp - '0');
        if (++count % 8 == 0) out.push_back(static_cast<char>(bits & 0xFF));
    }
    return count % 8 == 0;
}

// Every code point above 127 fails: reducing it to 7 bits would take non-ASCII letters for digits.
bool decode_base16(Text text, std::string& out, bool strict) {
    Reader in(text);
    uint32_t cp;
    int high = -1;
    while (in.next(cp)) {
        if (cp <= 32) continue;
        const int d = cp < 128 ? hex_digit(cp) : -1;
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>(high << 4 | d));
            high = -1;
        }
    }
    return !(strict && high >= 0);
}

bool decode_base58(Text text, std::string& out) {
    Reader in(text);
    uint32_t cp;
    size_t zeros = 0;
    bool leading = true;
    std::string number;  // big-endian base-256 digits of the value read so far
    while (in.next(cp)) {
        if (cp >= 128) return false;
        const uint8_t d = kBase58Digits[cp];
        if (d == kSkip) continue;
        if (d == kInvalid) return false;
        if (leading && d == 0) {
            ++zeros;
            continue;
        }
        leading = false;
        uint32_t carry = d;
        for (size_t i = number.size(); i-- > 0;) {
            carry += static_cast<uint32_t>(static_cast<uint8_t>(number[i])) * 58;
            number[i] = static_cast<char>(carry & 0xFF);
            carry >>= 8;
        }
        for (; carry; carry >>= 8) number.insert(number.begin(), static_cast<char>(carry & 0xFF));
    }
    out.append(zeros, '\0');
    out += number;
    return true;
}

// "=" after three digits ends the group with two bytes, after two with one byte and a second "="
// that is passed over when it follows; with fewer digits the text is bad. Decoding then goes on,
// so concatenated texts decode whole. The URL-safe form needs no padding: a final group of two or
// three digits gives its bytes.
bool decode_base64(Text text, std::string& out, bool strict, bool url) {
    const Table& digit = url ? kBase64UrlDigits : kBase64Digits;
    Reader in(text);
    uint32_t cp, group = 0, digits = 0;
    while (in.next(cp)) {
        if (cp >= 128) return false;
        if (cp == '=') {
            if (digits == 3) {
                out.push_back(static_cast<char>(group >> 10 & 0xFF));
                out.push_back(static_cast<char>(group >> 2 & 0xFF));
            } else if (digits == 2) {
                out.push_back(static_cast<char>(group >> 4 & 0xFF));
                if (!in.done() && in.peek() == '=') in.next(cp);
                else if (strict) return false;
            } else {
                return false;
            }
            group = digits = 0;
            continue;
        }
        const uint8_t d = digit[cp];
        if (d == kSkip) continue;
        if (d == kInvalid) return false;
        group = group << 6 | d;
        if (++digits == 4) {
            out.push_back(static_cast<char>(group >> 16 & 0xFF));
            out.push_back(static_cast<char>(group >> 8 & 0xFF));
            out.push_back(static_cast<char>(group & 0xFF));
            group = digits = 0;
        }
    }
    if (url && digits >= 2) {
        group <<= 6 * (4 - digits);
        out.push_back(static_cast<char>(group >> 16 & 0xFF));
        if (digits == 3) out.push_back(static_cast<char>(group >> 8 & 0xFF));
        return true;
    }
    return !((strict || url) && digits != 0);
}

void encode_base58(std::string_view bytes, std::string& out) {
    size_t zeros = 0;
    while (zeros < bytes.size() && bytes[zeros] == 0) ++zeros;
    out.append(zeros, '1');
    // Repeated division of a work copy by 58; the remainders are the digits, last first.
    std::string work(bytes.substr(zeros));
    std::string digits;
    size_t start = 0;
    while (start < work.size()) {
        uint32_t remainder = 0;
        for (size_t i = start; i < work.size(); ++i) {
            const uint32_t v = remainder << 8 | static_cast<uint8_t>(work[i]);
            work[i] = static_cast<char>(v / 58);
            remainder = v % 58;
        }
        digits.push_back(kBase58[remainder]);
        while (start < work.size() && work[start] == 0) ++start;
    }
    out.append(digits.rbegin(), digits.rend());
}

void encode_base64(std::string_view bytes, std::string& out, bool url) {
    const std::string_view alphabet = url ? kBase64Url : kBase64;
    const auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t g = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        for (const int shift : {18, 12, 6, 0}) out.push_back(alphabet[g >> shift & 63]);
    }
    const size_t rest = bytes.size() - i;
    if (rest == 0) return;
    const uint32_t g = at(i) << 16 | (rest == 2 ? at(i + 1) << 8 : 0);
    out.push_back(alphabet[g >> 18 & 63]);
    out.push_back(alphabet[g >> 12 & 63]);
    if (rest == 2) out.push_back(alphabet[g >> 6 & 63]);
    if (url) return;
    if (rest == 1) out.push_back('=');
    out.push_back('=');
}

}  // namespace

void encode(int32_t base, std::string_view bytes, std::string& out, bool url) {
    switch (base) {
        case 2:
            for (const char c : bytes)
                for (int bit = 7; bit >= 0; --bit) out.push_back(static_cast<char>('0' + (c >> bit & 1)));
            break;
        case 16:
            for (const char c : bytes) {
                out.push_back(kHex[static_cast<uint8_t>(c) >> 4]);
                out.push_back(kHex[static_cast<uint8_t>(c) & 15]);
            }
            break;
        case 58: encode_base58(bytes, out); break;
        default: encode_base64(bytes, out, url); break;
    }
}

bool decode(int32_t base, Text text, std::string& out, bool strict, bool url) {
    switch (base) {
        case 2: return decode_base2(text, out);
        case 16: return decode_base16(text, out, strict);
        case 58: return decode_base58(text, out);
        case 64: return decode_base64(text, out, strict, url);
        default: return false;
    }
}

}  // namespace zub::binary
