// Feeds arbitrary bytes to the reader of the server's version answer, which decides the quota,
// the overwrite question and the slide size of a job.
#include "app/queue/VersionReply.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cf;
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  VersionReply reply;
  const Outcome accepted = reply.Accept(text);
  if (!accepted.ok()) {
    if (accepted.message.isEmpty()) std::abort();
    return 0;
  }
  int width = 560;
  int height = 420;
  if (reply.SlideSize(&width, &height) && (width <= 0 || height <= 0)) std::abort();
  // A quota that leaves no room fails with a text; so does one that is not a number.
  for (const qint64 required : {qint64{0}, qint64{1}, qint64{1} << 40}) {
    const Outcome quota = reply.CheckQuota(required);
    if (!quota.ok() && quota.message.isEmpty()) std::abort();
  }
  const QString overwrite = reply.overwrite();
  if (overwrite == QLatin1String("2") || overwrite == QLatin1String("3")) {
    if (VersionReply::RefuseTarget(overwrite).ok()) std::abort();
  }
  (void)reply.Value("videotype");
  (void)reply.Flag("videosrc");
  return 0;
}
