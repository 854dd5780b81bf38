#include "app/dialogs/FolderReply.h"

#include "app/services/modLanguage.h"

#include <cmath>

namespace {

QString ChildText(const pugi::xml_node& node, const char* name) {
  return QString::fromUtf8(node.child(name).text().as_string());
}

}  // namespace

FolderReply FolderReply::Read(const QString& response, bool sentDigest) {
  FolderReply reply;
  if (!response.startsWith(QLatin1String("<?xml"))) return reply;
  const QByteArray bytes = response.toUtf8();
  if (!reply.document_->load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()),
                                    pugi::parse_default, pugi::encoding_utf8) ||
      !reply.document_->document_element()) {
    reply.outcome_ = Outcome::Unparsable;
    return reply;
  }
  const pugi::xml_node root = reply.root();
  reply.errInfo_ = ChildText(root, "errInfo");
  if (!reply.errInfo_.isEmpty()) {
    // A server that takes plain passwords refuses a digest with 1103 and says enc is not 1: ask
    // once more with the password as typed.
    if (reply.errInfo_ == QLatin1String(kWrongLogin) && sentDigest &&
        ChildText(root.child("sysinfo"), "enc") != QLatin1String("1")) {
      reply.outcome_ = Outcome::RetryPlainPassword;
    } else {
      reply.outcome_ = Outcome::ServerError;
    }
    return reply;
  }
  if (QString::fromUtf8(root.attribute("ver").value()) != QLatin1String(kSupportedVersion)) {
    reply.outcome_ = Outcome::UnsupportedVersion;
    return reply;
  }
  bool numeric = false;
  const double kqpver = QString::fromUtf8(root.attribute("kqpver").value()).toDouble(&numeric);
  if (numeric && std::isfinite(kqpver) && std::fabs(kqpver) < 1e9) {
    reply.caps_.kqpver = static_cast<int32_t>(std::trunc(kqpver));
  }
  const pugi::xml_node sysinfo = root.child("sysinfo");
  if (sysinfo) {
    reply.caps_.sysVer = ChildText(sysinfo, "ver");
    const pugi::xml_node cvtSetting = sysinfo.child("cvtSetting");
    reply.caps_.noCvtForMp4 = ChildText(cvtSetting, "noCvtForMp4") == QLatin1String("1");
    reply.caps_.customBps = ChildText(cvtSetting, "customBps") == QLatin1String("1");
    if (sysinfo.child("adID")) {
      bool ok = false;
      const int adID = ChildText(sysinfo, "adID").trimmed().toInt(&ok);
      if (ok) reply.caps_.adID = adID;
    }
  }
  reply.outcome_ = Outcome::Ok;
  return reply;
}

pugi::xml_node FolderReply::root() const { return document_->document_element(); }

QString FolderReply::MessageText(const QString& serverErrorPrefix) const {
  const QString section = QStringLiteral("frmAdd");
  switch (outcome_) {
    case Outcome::NotXml:
      return GetResString(QStringLiteral("frmUpload"), QStringLiteral("msg_0"));
    case Outcome::Unparsable:
      return GetResString(section, QStringLiteral("msgParseXmlErr"));
    case Outcome::UnsupportedVersion:
      return GetResString(section, QStringLiteral("msgUnsupportedXmlVer"));
    case Outcome::ServerError:
    case Outcome::RetryPlainPassword: {
      const QString text =
          GetResString(QStringLiteral("frmUpload"), QStringLiteral("msg_") + errInfo_);
      if (!text.isEmpty()) return text;
      return serverErrorPrefix + QStringLiteral("\r\n") + errInfo_;
    }
    case Outcome::Ok:
      break;
  }
  return QString();
}

QString FolderReply::MessageTitle() const {
  return outcome_ == Outcome::ServerError ? QStringLiteral("GetFolder") : QString();
}
