// CRC-32 folds 64 bytes a step with carry-less multiplication where the processor has it, and
// otherwise reads eight bytes a step through eight tables built at compile time (which also take
// the short ends). Adler-32 defers its modulo to the end of each block that cannot overflow; the
// Internet checksum sums in 64 bits so no carry is lost on long inputs. Digests are one libcrypto
// call each; HMAC streams the pads and the data through one digest context, never copying it.
#include "system/checksum.h"

#include <immintrin.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace zub::checksum {
namespace {

static_assert(std::endian::native == std::endian::little, "the CRC-32 steps read words as little-endian");

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

// Table 0 is the byte-at-a-time table; table k advances a byte through k more zero bytes, which
// lets one step fold eight bytes.
constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr CrcTables kCrc = make_crc_tables();

// The register (not inverted) after the bytes, eight at a time.
uint32_t crc_tables(uint32_t c, const uint8_t* p, size_t size) {
    for (; size >= 8; p += 8, size -= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
            kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
    }
    for (; size > 0; --size) c = (c >> 8) ^ kCrc[0][(c ^ *p++) & 0xFF];
    return c;
}

// Below this the folding's set-up costs more than the tables.
constexpr size_t kFoldMinimum = 64;

inline __m128i load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// One lane folded forward by the distance of the constants k, and the next data added.
__attribute__((target("pclmul"), always_inline)) inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x11), _mm_clmulepi64_si128(lane, k, 0x00)), next);
}

// The register after the bytes (a multiple of 16, at least 64), folding four 128-bit lanes by
// x^512 and x^576 modulo the polynomial, then the lanes into one, then a Barrett reduction. The
// constants are those powers of x modulo the bit-reflected polynomial, and its reciprocal.
__attribute__((target("pclmul,sse4.1"))) uint32_t crc_fold(uint32_t c, const uint8_t* p, size_t size) {
    const __m128i k1k2 = _mm_set_epi64x(0x01C6E41596, 0x0154442BD4);
    const __m128i k3k4 = _mm_set_epi64x(0x00CCAA009E, 0x01751997D0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163CD6124);
    const __m128i poly = _mm_set_epi64x(0x01F7011641, 0x01DB710641);

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; size >= 16; p += 16, size -= 16) x1 = fold(x1, k3k4, load(p));

    // 128 bits to 64, then to 32 by Barrett reduction.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), _mm_srli_si128(x1, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

// Asked once, from a static initialiser, which may run before the CPU model is read.
bool can_fold() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
const bool g_can_fold = can_fold();

constexpr uint32_t kAdlerModulus = 65521;
// The most bytes after which the second sum still fits 32 bits, starting from sums below the
// modulus.
constexpr size_t kAdlerBlock = 5552;

struct Named {
    std::string_view name;
    Method method;
};
constexpr Named kNames[] = {
    {"tcp", Method::tcp},       {"md5", Method::md5},         {"sha1", Method::sha1},
    {"crc32", Method::crc32},   {"adler32", Method::adler32}, {"sha256", Method::sha256},
    {"sha384", Method::sha384}, {"sha512", Method::sha512},   {"hash", Method::hash},
};

bool same_ascii_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

const EVP_MD* engine_of(Method method) {
    switch (method) {
        case Method::md5: return EVP_md5();
        case Method::sha1: return EVP_sha1();
        case Method::sha256: return EVP_sha256();
        case Method::sha384: return EVP_sha384();
        case Method::sha512: return EVP_sha512();
        default: return nullptr;
    }
}

// The digest's input block, which HMAC pads the key to.
size_t block_size(Method method) { return method == Method::sha384 || method == Method::sha512 ? 128 : 64; }

// libcrypto may be handed a null pointer for no bytes; give it a real one.
const void* never_null(const void* data) {
    static const unsigned char nothing = 0;
    return data ? data : &nothing;
}

struct ContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool digest_parts(EVP_MD_CTX* c, const EVP_MD* engine, const void* a, size_t a_size, const void* b, size_t b_size,
                  uint8_t* out, uint32_t expected) {
    unsigned int written = 0;
    return EVP_DigestInit_ex(c, engine, nullptr) == 1 && EVP_DigestUpdate(c, never_null(a), a_size) == 1 &&
           EVP_DigestUpdate(c, never_null(b), b_size) == 1 && EVP_DigestFinal_ex(c, out, &written) == 1 &&
           written == expected;
}

}  // namespace

uint32_t crc32(const void* data, size_t size, uint32_t previous) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~previous;
    if (size >= kFoldMinimum && g_can_fold) {
        const size_t folded = size & ~size_t{15};
        c = crc_fold(c, p, folded);
        p += folded;
        size -= folded;
    }
    return ~crc_tables(c, p, size);
}

uint32_t adler32(const void* data, size_t size, uint32_t previous) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t a = (previous & 0xFFFF) % kAdlerModulus;
    uint32_t b = (previous >> 16) % kAdlerModulus;
    while (size > 0) {
        size_t n = std::min(size, kAdlerBlock);
        size -= n;
        for (; n >= 16; n -= 16, p += 16)
            for (int i = 0; i < 16; ++i) {
                a += p[i];
                b += a;
            }
        for (; n > 0; --n) {
            a += *p++;
            b += a;
        }
        a %= kAdlerModulus;
        b %= kAdlerModulus;
    }
    return b << 16 | a;
}

uint16_t tcp(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t sum = 0;
    for (; size >= 2; p += 2, size -= 2) sum += uint32_t{p[0]} << 8 | p[1];
    if (size) sum += uint32_t{p[0]} << 8;
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum);
}

std::optional<Method> method_named(std::string_view name) {
    for (const Named& n : kNames)
        if (same_ascii_folded(name, n.name)) return n.method;
    return std::nullopt;
}

uint32_t digest_size(Method method) {
    switch (method) {
        case Method::md5: return 16;
        case Method::sha1: return 20;
        case Method::sha256: return 32;
        case Method::sha384: return 48;
        case Method::sha512: return 64;
        default: return 0;
    }
}

bool digest(Method method, const void* data, size_t size, uint8_t* out) {
    const EVP_MD* engine = engine_of(method);
    if (!engine) return false;
    unsigned int written = 0;
    return EVP_Digest(never_null(data), size, out, &written, engine, nullptr) == 1 && written == digest_size(method);
}

bool hmac(Method method, const void* data, size_t size, const void* key, size_t key_size, uint8_t* out) {
    const EVP_MD* engine = engine_of(method);
    if (!engine) return false;
    const size_t block = block_size(method);
    const uint32_t length = digest_size(method);
    uint8_t k[128] = {};
    if (key_size > block) {
        if (!digest(method, key, key_size, k)) return false;
    } else if (key_size > 0) {
        std::memcpy(k, key, key_size);
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> c(EVP_MD_CTX_new());
    uint8_t pad[128];
    uint8_t inner[kMaxDigest];
    bool ok = c != nullptr;
    if (ok) {
        for (size_t i = 0; i < block; ++i) pad[i] = k[i] ^ 0x36;
        ok = digest_parts(c.get(), engine, pad, block, data, size, inner, length);
    }
    if (ok) {
        for (size_t i = 0; i < block; ++i) pad[i] = k[i] ^ 0x5C;
        ok = digest_parts(c.get(), engine, pad, block, inner, length, out, length);
    }
    // The key and what is derived from it do not outlive the call on the stack.
    OPENSSL_cleanse(k, sizeof k);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(inner, sizeof inner);
    return ok;
}

}  // namespace zub::checksum
