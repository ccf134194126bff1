// Checksums, digests and keyed digests over bytes: CRC-32, Adler-32 and the Internet (TCP)
// checksum are our own; MD5 and the SHA family come from libcrypto, and HMAC is built here over
// them. The `checksum` native picks a method by word; the gzip and zlib framings use the running
// CRC-32 and Adler-32 directly. Nothing here allocates series or raises errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zub::checksum {

// CRC-32 of gzip and PNG (reflected polynomial EDB88320h) of the bytes, continuing from the CRC
// of the bytes before them: start with 0. crc32(b, crc32(a)) is the CRC of a followed by b.
uint32_t crc32(const void* data, size_t size, uint32_t previous = 0);

// Adler-32 of zlib (modulus 65521), continuing from the checksum of the bytes before: start
// with 1.
uint32_t adler32(const void* data, size_t size, uint32_t previous = 1);

// The Internet checksum: the complement of the one's-complement sum of the bytes read as
// big-endian 16-bit words, an odd last byte padded with a zero byte. Exact for any length.
uint16_t tcp(const void* data, size_t size);

// The methods `checksum` knows, in the order of their codes: tcp and crc32 are 0 and 1, the five
// digests 2 to 6; adler32 and hash have no code.
enum class Method : uint8_t { tcp, crc32, md5, sha1, sha256, sha384, sha512, adler32, hash };

// The method of a name, its letters in any case; none for a name no method has.
std::optional<Method> method_named(std::string_view name);

// Bytes of a digest method's result (16, 20, 32, 48 or 64); 0 for the other methods.
uint32_t digest_size(Method method);
inline bool is_digest(Method method) { return digest_size(method) != 0; }

// The largest digest, for the callers' result buffers.
inline constexpr uint32_t kMaxDigest = 64;

// Writes the digest of the bytes (digest_size(method) bytes) to out. False when the method is not
// a digest or libcrypto fails; out is then not to be read.
bool digest(Method method, const void* data, size_t size, uint8_t* out);

// Writes the HMAC of the bytes under the key with a digest method (digest_size(method) bytes) to
// out. A key longer than the digest's block is replaced by its digest first. False as digest.
bool hmac(Method method, const void* data, size_t size, const void* key, size_t key_size, uint8_t* out);

}  // namespace zub::checksum
