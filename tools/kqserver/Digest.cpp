#include "tools/kqserver/Digest.h"

#include <openssl/evp.h>

#include <fstream>
#include <vector>

namespace kqserver {

namespace {

std::string Hex(const unsigned char* bytes, unsigned int size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

std::string OneShot(const EVP_MD* type, std::string_view data) {
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), value, &size, type, nullptr) != 1) return {};
  return Hex(value, size);
}

}  // namespace

Digest::Digest() : context_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(context_, EVP_sha256(), nullptr);
}

Digest::~Digest() { EVP_MD_CTX_free(context_); }

Digest::Digest(const Digest& other) : context_(EVP_MD_CTX_new()) {
  EVP_MD_CTX_copy_ex(context_, other.context_);
}

Digest& Digest::operator=(const Digest& other) {
  if (this != &other) EVP_MD_CTX_copy_ex(context_, other.context_);
  return *this;
}

void Digest::Update(const char* data, size_t size) { EVP_DigestUpdate(context_, data, size); }

std::string Digest::HexValue() const {
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  std::string text;
  if (EVP_MD_CTX_copy_ex(copy, context_) == 1 && EVP_DigestFinal_ex(copy, value, &size) == 1) {
    text = Hex(value, size);
  }
  EVP_MD_CTX_free(copy);
  return text;
}

std::string Digest::Sha256Hex(std::string_view data) { return OneShot(EVP_sha256(), data); }

std::string Digest::FileSha256Hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  Digest digest;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    digest.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return in.eof() ? digest.HexValue() : std::string();
}

std::string Digest::Md5Hex(std::string_view data) { return OneShot(EVP_md5(), data); }

std::string Digest::PasswordDigest(std::string_view password) {
  while (!password.empty() && password.front() == ' ') password.remove_prefix(1);
  while (!password.empty() && password.back() == ' ') password.remove_suffix(1);
  return Md5Hex(Md5Hex(password));
}

}  // namespace kqserver
