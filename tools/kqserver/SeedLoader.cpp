#include "tools/kqserver/SeedLoader.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstring>

namespace kqserver {

namespace {

constexpr int64_t kMegabyte = 1024 * 1024;

const char* const kDemoSeed = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<kqserver>
  <settings version="5.0" checkArchive="1"/>
  <account name="demo" password="demo" digest="0" videotype="mp4" videosrc="0" thumbnail="1"
           slidesize="560x420" kqpver="6" folderForm="tree">
    <quota total="2048" free="1536" maxsize="1024"/>
    <sysinfo ver="5.0" noCvtForMp4="1" customBps="1" adID="4"/>
    <folder id="1" pid="0" name="Courses" uploadable="0"/>
    <folder id="2" pid="1" name="Physics 101" uploadable="1"/>
    <folder id="3" pid="1" name="Chemistry 201" uploadable="1"/>
    <folder id="7" pid="2" name="Lab sessions" uploadable="1"/>
    <folder id="4" pid="0" name="Advertisements" uploadable="1"/>
    <folder id="5" pid="0" name="Archive" uploadable="0"/>
    <folder id="6" pid="5" name="2019" uploadable="0"/>
    <content id="100" folder="2" overwrite="1" size="0"/>
  </account>
  <account name="demo-digest" password="demo" digest="1" videotype="mp4" videosrc="1" thumbnail="1"
           slidesize="800x600" kqpver="6" folderForm="tree">
    <quota total="1024" free="1024" maxsize="512"/>
    <sysinfo ver="5.0" noCvtForMp4="0" customBps="1"/>
    <folder id="10" pid="0" name="Lectures" uploadable="1"/>
    <folder id="11" pid="10" name="Week 1" uploadable="1"/>
  </account>
  <account name="demo-legacy" password="demo" digest="0" videotype="flv" videosrc="0" thumbnail="0"
           folderForm="flat">
    <folder id="20" pid="0" name="My videos" uploadable="1"/>
    <folder id="21" pid="0" name="Shared" uploadable="1"/>
  </account>
</kqserver>
)xml";

bool ParseInt(const char* text, int64_t* value) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, *value);
  return error == std::errc() && stop == end && stop != text;
}

bool Flag(const char* text) {
  return std::strcmp(text, "1") == 0 || std::strcmp(text, "true") == 0;
}

class Loader {
 public:
  Loader(KqDatabase* db, std::string* error) : db_(db), error_(error) {}

  bool Number(const pugi::xml_node& node, const char* name, int64_t* value) {
    const auto attribute = node.attribute(name);
    if (!attribute) return true;
    if (!ParseInt(attribute.value(), value)) {
      return Fail(std::string("<") + node.name() + "> attribute " + name + " is not a number");
    }
    return true;
  }
  void Text(const pugi::xml_node& node, const char* name, std::string* value) {
    if (const auto attribute = node.attribute(name)) *value = attribute.value();
  }
  bool Fail(std::string text) {
    *error_ = std::move(text);
    return false;
  }

  bool Settings(const pugi::xml_node& node) {
    for (const auto& attribute : node.attributes()) {
      if (!db_->SaveSetting(attribute.name(), attribute.value())) return Fail(db_->LastError());
    }
    return true;
  }

  bool AccountNode(const pugi::xml_node& node) {
    const std::string name = node.attribute("name").value();
    if (name.empty()) return Fail("<account> without a name");
    Account account = db_->FindAccount(name).value_or(Account{});
    account.name = name;
    Text(node, "password", &account.password);
    if (const auto digest = node.attribute("digest")) account.digest = Flag(digest.value());
    Text(node, "videotype", &account.videotype);
    Text(node, "videosrc", &account.videosrc);
    Text(node, "thumbnail", &account.thumbnail);
    Text(node, "slidesize", &account.slidesize);
    Text(node, "kqpver", &account.kqpver);
    Text(node, "folderForm", &account.folderForm);
    if (account.folderForm != "tree" && account.folderForm != "flat") {
      return Fail("folderForm must be tree or flat");
    }
    if (const auto quota = node.child("quota")) {
      account.hasQuota = !Flag(quota.attribute("remove").value());
      int64_t freeMb = -1;
      if (!Number(quota, "total", &account.totalMb) ||
          !Number(quota, "maxsize", &account.maxsizeMb) || !Number(quota, "free", &freeMb) ||
          !Number(quota, "freeBytes", &account.freeBytes)) {
        return false;
      }
      if (freeMb >= 0 && !quota.attribute("freeBytes")) account.freeBytes = freeMb * kMegabyte;
    }
    if (const auto sysinfo = node.child("sysinfo")) {
      account.hasSysinfo = !Flag(sysinfo.attribute("remove").value());
      Text(sysinfo, "ver", &account.sysVer);
      Text(sysinfo, "noCvtForMp4", &account.noCvtForMp4);
      Text(sysinfo, "customBps", &account.customBps);
      Text(sysinfo, "adID", &account.adId);
    }
    if (!db_->SaveAccount(account)) return Fail(db_->LastError());

    for (const auto& child : node.children("folder")) {
      Folder folder;
      if (!Number(child, "id", &folder.id) || !Number(child, "pid", &folder.pid)) return false;
      if (!child.attribute("id")) return Fail("<folder> without an id");
      folder.name = child.attribute("name").value();
      folder.uploadable = Flag(child.attribute("uploadable").value());
      if (!db_->SaveFolder(name, folder)) return Fail(db_->LastError());
    }
    for (const auto& child : node.children("content")) {
      Content content;
      content.account = name;
      if (!Number(child, "id", &content.id) || !Number(child, "folder", &content.folderId) ||
          !Number(child, "size", &content.size)) {
        return false;
      }
      if (content.id <= 0) return Fail("<content> needs an id above 0");
      if (const auto existing = db_->FindContent(content.id)) {
        content.path = existing->path;
        content.sha256 = existing->sha256;
        if (!child.attribute("size")) content.size = existing->size;
        if (!child.attribute("folder")) content.folderId = existing->folderId;
      }
      Text(child, "overwrite", &content.overwrite);
      if (!db_->SaveContent(content)) return Fail(db_->LastError());
    }
    for (const auto& child : node.children("reply")) {
      const std::string route = child.attribute("route").value();
      if (route != "getfolder" && route != "getVersion" && route != "putFile") {
        return Fail("<reply> route must be getfolder, getVersion or putFile");
      }
      std::optional<ReplyOverride> reply;
      const std::string code = child.attribute("errInfo").value();
      if (!code.empty()) reply = ReplyOverride{code, Flag(child.attribute("showInfo").value())};
      if (!db_->SaveReply(name, route, reply)) return Fail(db_->LastError());
    }
    return true;
  }

 private:
  KqDatabase* db_;
  std::string* error_;
};

}  // namespace

const char* SeedLoader::DemoSeed() { return kDemoSeed; }

bool SeedLoader::Apply(KqDatabase* db, const std::string& xml, std::string* error) {
  pugi::xml_document document;
  const auto parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    *error = std::string("the seed is not XML: ") + parsed.description();
    return false;
  }
  const auto root = document.document_element();
  if (std::strcmp(root.name(), "kqserver") != 0) {
    *error = "the seed's root element must be <kqserver>";
    return false;
  }
  Loader loader(db, error);
  for (const auto& node : root.children()) {
    if (node.type() != pugi::node_element) continue;
    const std::string name = node.name();
    bool ok = true;
    if (name == "settings") {
      ok = loader.Settings(node);
    } else if (name == "account") {
      ok = loader.AccountNode(node);
    } else {
      *error = "unknown seed element <" + name + ">";
      ok = false;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace kqserver
