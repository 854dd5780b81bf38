#pragma once

#include <string>
#include <vector>

// Certificates for tests of secure connections, made at test time so that no key is ever kept
// in the source tree: a fresh authority and a server certificate it signed.
struct TestCertificates {
  std::string caFile;    // PEM certificate of the authority: the file to trust
  std::string certFile;  // PEM server certificate
  std::string keyFile;   // PEM server key

  // Writes ca.pem, server.pem and server.key into folder. The server certificate names the
  // given DNS names and IP addresses (subjectAltName).
  static bool Make(const std::string& folder, const std::vector<std::string>& dnsNames,
                   const std::vector<std::string>& ipAddresses, TestCertificates* made,
                   std::string* error);
};
