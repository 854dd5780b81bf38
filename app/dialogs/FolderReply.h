#pragma once

#include <QString>

#include <pugixml.hpp>

#include <cstdint>
#include <memory>

// What the last folder reply said about the server.
struct ServerCaps {
  QString sysVer;  // empty for a server of the older system
  bool noCvtForMp4 = false;
  bool customBps = false;
  int32_t adID = -99;
  int32_t kqpver = 5;  // highest project major version the server accepts

  bool oldSystem() const { return sysVer.isEmpty(); }
};

// The server's answer to the folder request, read as the dialogs and clipferry-cli read it.
class FolderReply {
 public:
  enum class Outcome {
    NotXml,              // msg_0 of frmUpload
    Unparsable,          // msgParseXmlErr
    ServerError,         // errInfo: "msg_" + code of frmUpload, title "GetFolder"
    RetryPlainPassword,  // 1103 to a digest from a server that takes plain passwords
    UnsupportedVersion,  // msgUnsupportedXmlVer
    Ok,
  };

  static constexpr char kSupportedVersion[] = "2.0";
  static constexpr char kWrongLogin[] = "1103";

  // Reads `response`; `sentDigest` tells whether the password went as a digest.
  static FolderReply Read(const QString& response, bool sentDigest);

  Outcome outcome() const { return outcome_; }
  bool ok() const { return outcome_ == Outcome::Ok; }
  QString errInfo() const { return errInfo_; }
  const ServerCaps& caps() const { return caps_; }
  // The reply's root element (valid when the reply parsed).
  pugi::xml_node root() const;
  const pugi::xml_document& document() const { return *document_; }

  // What to tell the user for a failed reply, and the title to show it with. `serverErrorPrefix`
  // stands before the code of a server error that has no text of its own.
  QString MessageText(const QString& serverErrorPrefix) const;
  QString MessageTitle() const;

 private:
  Outcome outcome_ = Outcome::NotXml;
  QString errInfo_;
  ServerCaps caps_;
  std::shared_ptr<pugi::xml_document> document_ = std::make_shared<pugi::xml_document>();
};
