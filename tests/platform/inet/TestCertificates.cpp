#include "tests/platform/inet/TestCertificates.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key NewKey() { return Key(EVP_EC_gen("P-256")); }

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

Cert NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
  Cert cert(X509_new());
  if (!cert) return cert;
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 2L * 24 * 3600);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_pubkey(cert.get(), key);
  return cert;
}

bool WriteCert(const std::string& path, X509* cert) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = PEM_write_X509(file, cert) == 1;
  return std::fclose(file) == 0 && ok;
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

bool TestCertificates::Make(const std::string& folder, const std::vector<std::string>& dnsNames,
                            const std::vector<std::string>& ipAddresses, TestCertificates* made,
                            std::string* error) {
  const Key caKey = NewKey();
  const Key serverKey = NewKey();
  if (!caKey || !serverKey) {
    *error = "cannot make keys";
    return false;
  }
  const Cert ca = NewCertificate(caKey.get(), "ClipFerry test authority", 1);
  const Cert server = NewCertificate(serverKey.get(), "ClipFerry test server", 2);
  if (!ca || !server) {
    *error = "cannot make certificates";
    return false;
  }
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));

  std::string names;
  for (const std::string& dns : dnsNames) names += (names.empty() ? "DNS:" : ",DNS:") + dns;
  for (const std::string& ip : ipAddresses) names += (names.empty() ? "IP:" : ",IP:") + ip;
  const bool extended =
      AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE") &&
      AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
      AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") &&
      AddExtension(server.get(), ca.get(), NID_basic_constraints, "CA:FALSE") &&
      AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth") &&
      AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid") &&
      (names.empty() || AddExtension(server.get(), ca.get(), NID_subject_alt_name, names));
  if (!extended || X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0 ||
      X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0) {
    *error = "cannot sign the certificates";
    return false;
  }
  made->caFile = folder + "/ca.pem";
  made->certFile = folder + "/server.pem";
  made->keyFile = folder + "/server.key";
  if (!WriteCert(made->caFile, ca.get()) || !WriteCert(made->certFile, server.get()) ||
      !WriteKey(made->keyFile, serverKey.get())) {
    *error = "cannot write the certificates into " + folder;
    return false;
  }
  return true;
}
