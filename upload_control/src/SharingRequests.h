#pragma once

#include "upload_control/src/SharingSettings.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace kqmavo2 {

// The two synchronous video-sharing exchanges: the login form post over TLS and the fetch of
// the category document. The caller holds the transport's gate.
class SharingRequests {
 public:
  // Answers are read in pieces of this size.
  static constexpr std::size_t kReadPieceBytes = 260;
  static constexpr std::uint64_t kLoginAnswerCap = 64 * 1024;
  static constexpr std::uint64_t kCategoryAnswerCap = 4 * 1024 * 1024;

  struct LoginOutcome {
    bool refused = false;             // the service answered with "Error="
    std::optional<QByteArray> token;  // a new token; empty when there is none to keep
  };

  // Sends the login form (account and password in the system code page) and reads the answer.
  // A login that cannot be sent has neither a refusal nor a token.
  // `deadlineMs` bounds the whole exchange of each request.
  static LoginOutcome Login(const SharingSettings& settings, const QByteArray& account,
                            const QByteArray& password, const QByteArray& source, int deadlineMs);
  // What a login answer means: "Error=" anywhere refuses; otherwise the value after the first
  // "=" of the first line is the token, but only from a successful (200/201) answer.
  static LoginOutcome ReadLoginAnswer(int status, const QByteArray& answer);
  // The login form body.
  static QByteArray LoginBody(const QByteArray& account, const QByteArray& password,
                              const QByteArray& source);

  // The category document decoded from the system code page; empty when it could not be had.
  static std::optional<QString> CategoryList(const SharingSettings& settings, int deadlineMs);
};

}  // namespace kqmavo2
