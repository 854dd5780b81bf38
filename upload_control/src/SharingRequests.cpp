#include "upload_control/src/SharingRequests.h"

#include "platform/codepage/CodePage.h"
#include "upload_control/src/DebugLog.h"
#include "upload_control/src/HttpTransport.h"
#include "upload_control/src/UrlEncode.h"

namespace kqmavo2 {
namespace {

constexpr char kRefusalMarker[] = "Error=";

// Closes the handles whatever path the request took.
struct CloseOnExit {
  HttpTransport& transport;
  ~CloseOnExit() { transport.CloseRequest(); }
};

bool IsSuccess(std::int64_t answered) { return answered >= 0; }

}  // namespace

QByteArray SharingRequests::LoginBody(const QByteArray& account, const QByteArray& password,
                                      const QByteArray& source) {
  return "Email=" + UrlEncode(account) + "&Passwd=" + UrlEncode(password) +
         "&service=youtube&source=" + source;
}

SharingRequests::LoginOutcome SharingRequests::ReadLoginAnswer(int status,
                                                               const QByteArray& answer) {
  LoginOutcome outcome;
  if (answer.contains(kRefusalMarker)) {
    outcome.refused = true;
    return outcome;
  }
  // An error page is not a token, whatever its first line says.
  if (status != 200 && status != 201) return outcome;
  const qsizetype lineEnd = answer.indexOf('\n');
  QByteArray line = lineEnd < 0 ? answer : answer.left(lineEnd);
  // The token goes back into a header line, where a CR would end it early.
  if (line.endsWith('\r')) line.chop(1);
  const qsizetype equals = line.indexOf('=');
  if (equals < 0 || equals + 1 >= line.size()) return outcome;
  outcome.token = line.mid(equals + 1);
  return outcome;
}

SharingRequests::LoginOutcome SharingRequests::Login(const SharingSettings& settings,
                                                     const QByteArray& account,
                                                     const QByteArray& password,
                                                     const QByteArray& source, int deadlineMs) {
  QString host;
  std::uint16_t port = 0;
  if (!SharingSettings::SplitHost(settings.loginHost, SharingSettings::kLoginPort, &host, &port)) {
    DebugLog("no login host is set");
    return {};
  }
  const QByteArray body = LoginBody(account, password, source);
  const QByteArray headers = "Content-Type:application/x-www-form-urlencoded\nContent-Length:" +
                             QByteArray::number(body.size());
  HttpTransport& transport = HttpTransport::Instance();
  CloseOnExit closer{transport};
  if (transport.OpenSharingRequest(host, port, "POST", SharingSettings::kLoginPath, true,
                                   settings.trustFile, headers, kLoginAnswerCap,
                                   deadlineMs) != HttpTransport::kOpened) {
    DebugLog("the login request could not be opened");
    return {};
  }
  if (!transport.StartRequest(static_cast<std::uint64_t>(body.size())) ||
      transport.Write(body.constData(), static_cast<std::size_t>(body.size())) !=
          static_cast<std::size_t>(body.size()) ||
      !transport.EndRequest()) {
    DebugLog("the login could not be sent");
    return {};
  }
  const std::int64_t answered = transport.QueryResult();
  QByteArray answer;
  if (!transport.ReadPieces(kReadPieceBytes, &answer)) return {};
  return ReadLoginAnswer(IsSuccess(answered) ? 200 : static_cast<int>(-answered), answer);
}

std::optional<QString> SharingRequests::CategoryList(const SharingSettings& settings,
                                                     int deadlineMs) {
  QString host;
  std::uint16_t port = 0;
  if (!SharingSettings::SplitHost(settings.dataHost, SharingSettings::kDataPort, &host, &port)) {
    DebugLog("no data host is set");
    return std::nullopt;
  }
  HttpTransport& transport = HttpTransport::Instance();
  CloseOnExit closer{transport};
  if (transport.OpenSharingRequest(host, port, "GET", SharingSettings::kCategoriesPath, false,
                                   QString(), QByteArray(), kCategoryAnswerCap,
                                   deadlineMs) != HttpTransport::kOpened ||
      !transport.StartRequest(0) || !transport.EndRequest()) {
    DebugLog("the category request could not be sent");
    return std::nullopt;
  }
  // A missing or failing document must not be handed out as the category list.
  if (!IsSuccess(transport.QueryResult())) return std::nullopt;
  QByteArray answer;
  if (!transport.ReadPieces(kReadPieceBytes, &answer)) return std::nullopt;
  return cf::codepage::FromAnsi(answer);
}

}  // namespace kqmavo2
