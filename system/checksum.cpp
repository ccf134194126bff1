// CRC-32 reads eight bytes a step through eight tables built at compile time; Adler-32 defers its
// modulo to the end of each block that cannot overflow; the Internet checksum sums in 64 bits so
// no carry is lost on long inputs. Digests are one libcrypto call each; HMAC streams the pads and
// the data through one digest context, so the data is never copied.
#include "system/checksum.h"

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

constexpr uint32_t kAdlerModulus = 65521;
// The most bytes after which the second sum still fits 32 bits, starting from sums below the
// modulus.
constexpr size_t kAdlerBlock = 5552;

struct Named {
    std::string_view name;
    Method method;
};
constexpr Named kNames[] = {
    {"tcp", Method::tcp},       {"md5", Method::md5},       {"sha1", Method::sha1},
    {"crc32", Method::crc32},   {"adler32", Method::adler32}, {"sha256", Method::sha256},
    {"sha384", Method::sha384}, {"sha512", Method::sha512}, {"hash", Method::hash},
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
    for (; size >= 8; p += 8, size -= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
            kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
    }
    for (; size > 0; --size) c = (c >> 8) ^ kCrc[0][(c ^ *p++) & 0xFF];
    return ~c;
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
