#include "tools/kqserver/UpdateFeed.h"

#include <openssl/evp.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <pugixml.hpp>

namespace fs = std::filesystem;

namespace kqserver {

namespace {

constexpr const char* kPrefix = "/version_ctrl/clipferry/";
constexpr const char* kListName = "verinfo.php";
constexpr const char* kXmlType = "text/xml; charset=utf-8";
constexpr const char* kEmptyList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><verInfo><list/></verInfo>";
constexpr const char* kPackages[] = {"updater.zip", "updater_manifest.zip"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool Sha256OfFile(const fs::path& path, std::string* hex) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return false;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    if (in.gcount() > 0) EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) return false;
  static const char* const kHex = "0123456789abcdef";
  hex->clear();
  for (unsigned int i = 0; i < size; ++i) {
    hex->push_back(kHex[digest[i] >> 4]);
    hex->push_back(kHex[digest[i] & 15]);
  }
  return true;
}

// A path below the update folder made of plain names only.
bool IsPlainRelative(const std::string& relative) {
  if (relative.empty() || relative.front() == '/' || relative.find('\\') != std::string::npos) {
    return false;
  }
  std::stringstream parts(relative);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return relative.back() != '/';
}

}  // namespace

UpdateFeed::UpdateFeed(std::string dataDir) : root_((fs::path(dataDir) / "updates").string()) {}

bool UpdateFeed::Handles(const std::string& lowerPath) { return lowerPath.rfind(kPrefix, 0) == 0; }

int UpdateFeed::Serve(const httplib::Request& request, httplib::Response& response,
                      std::string* note) const {
  const std::string relative = request.path.substr(std::string(kPrefix).size());
  if (Lower(relative) == kListName) {
    const bool draft = request.has_param("draft") && request.get_param_value("draft") == "1";
    return ServeList(draft, response, note);
  }
  return ServeFile(relative, response, note);
}

int UpdateFeed::ServeList(bool draft, httplib::Response& response, std::string* note) const {
  const fs::path file = fs::path(root_) / (draft ? "verinfo_draft.xml" : "verinfo.xml");
  pugi::xml_document doc;
  if (!fs::is_regular_file(file)) {
    doc.load_string(kEmptyList);
    *note = "no " + file.filename().string() + ": empty list";
  } else if (!doc.load_file(file.c_str())) {
    response.status = 500;
    response.set_content(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><verInfo><errInfo>500</errInfo></verInfo>",
        kXmlType);
    *note = file.filename().string() + " is not readable XML";
    return 500;
  }
  int items = 0;
  for (pugi::xml_node item : doc.document_element().child("list").children("item")) {
    ++items;
    if (item.child("sha256")) continue;
    const std::string path = item.child("path").text().get();
    if (!Handles(Lower(path))) continue;
    const std::string relative = path.substr(std::string(kPrefix).size()) + "/patch.zip";
    std::string hex;
    if (IsPlainRelative(relative) && Sha256OfFile(fs::path(root_) / relative, &hex)) {
      item.append_child("sha256").text() = hex.c_str();
    }
  }
  auto root = doc.document_element();
  for (const char* package : kPackages) {
    if (root.find_child_by_attribute("package", "name", package)) continue;
    std::string hex;
    if (Sha256OfFile(fs::path(root_) / "version" / package, &hex)) {
      auto node = root.append_child("package");
      node.append_attribute("name") = package;
      node.append_attribute("sha256") = hex.c_str();
    }
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  response.status = 200;
  response.set_content(out.str(), kXmlType);
  if (note->empty()) *note = std::to_string(items) + (draft ? " draft" : "") + " items";
  return 200;
}

int UpdateFeed::ServeFile(const std::string& relative, httplib::Response& response,
                          std::string* note) const {
  std::error_code error;
  const fs::path file = fs::path(root_) / relative;
  const fs::path base = fs::weakly_canonical(root_, error);
  const fs::path resolved = fs::weakly_canonical(file, error);
  const std::string inside = base.string() + "/";
  if (!IsPlainRelative(relative) || error || resolved.string().rfind(inside, 0) != 0 ||
      !fs::is_regular_file(resolved)) {
    response.status = 404;
    response.set_content("not found", "text/plain");
    *note = "no update file " + relative;
    return 404;
  }
  const uint64_t size = fs::file_size(resolved, error);
  if (error || size > kMaxFileBytes) {
    response.status = 500;
    response.set_content("unreadable", "text/plain");
    *note = "cannot serve " + relative;
    return 500;
  }
  auto in = std::make_shared<std::ifstream>(resolved, std::ios::binary);
  response.status = 200;
  response.set_content_provider(
      static_cast<size_t>(size), "application/zip",
      [in](size_t offset, size_t length, httplib::DataSink& sink) {
        char buffer[65536];
        in->seekg(static_cast<std::streamoff>(offset));
        in->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
        const std::streamsize got = in->gcount();
        if (got <= 0) return false;
        return sink.write(buffer, static_cast<size_t>(got));
      });
  *note = "sent " + relative + " (" + std::to_string(size) + " bytes)";
  return 200;
}

}  // namespace kqserver
