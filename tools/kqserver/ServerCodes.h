#pragma once

// errInfo codes of this server. The uploader shows the text of "msg_" + code for each; README.md
// lists them with their meaning.
namespace kqserver::codes {

constexpr int kCancelled = 1004;  // same meaning as the uploader's own cancel code
constexpr int kLoginRefused = 1103;
constexpr int kFolderNotFound = 1201;
constexpr int kFolderNotUploadable = 1202;
constexpr int kContentLocked = 1203;
constexpr int kExceedsMaxSize = 1301;
constexpr int kNoSpace = 1302;
constexpr int kUnknownSession = 1401;
constexpr int kBlockOutOfOrder = 1402;
constexpr int kRepeatDiffers = 1403;
constexpr int kWrongBlockSize = 1404;
constexpr int kWrongBlockAddress = 1405;
constexpr int kNotAZip = 1406;
constexpr int kStoreFailed = 1407;
constexpr int kTooManySessions = 1408;
constexpr int kSessionGone = 1409;  // a later block of a session the server has no record of
constexpr int kBadRequest = 1501;
constexpr int kTooLarge = 1502;

}  // namespace kqserver::codes
