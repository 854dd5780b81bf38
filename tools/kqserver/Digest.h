#pragma once

#include <cstddef>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace kqserver {

// Incremental SHA-256 whose state can be copied, so a block can be hashed on top of the upload so
// far and only kept once the block is accepted.
class Digest {
 public:
  Digest();
  ~Digest();
  Digest(const Digest& other);
  Digest& operator=(const Digest& other);

  void Update(const char* data, size_t size);
  // Lower-case hexadecimal of the bytes so far; the state stays usable.
  std::string HexValue() const;

  static std::string Sha256Hex(std::string_view data);
  // Of a whole file, read in pieces; empty when it cannot be read.
  static std::string FileSha256Hex(const std::string& path);
  static std::string Md5Hex(std::string_view data);
  // What the uploader sends in place of a password when the account asks for digests.
  static std::string PasswordDigest(std::string_view password);

 private:
  EVP_MD_CTX* context_;
};

}  // namespace kqserver
