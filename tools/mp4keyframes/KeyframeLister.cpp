#include "tools/mp4keyframes/KeyframeLister.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

}  // namespace

bool KeyframeLister::List(const std::string& path, std::vector<double>* times, std::string* error) {
  av_log_set_level(AV_LOG_ERROR);
  AVFormatContext* context = nullptr;
  int rc = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    *error = path + ": " + AvError(rc);
    return false;
  }
  bool ok = false;
  AVPacket* packet = av_packet_alloc();
  do {
    rc = avformat_find_stream_info(context, nullptr);
    if (rc < 0) {
      *error = path + ": " + AvError(rc);
      break;
    }
    const int video = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
      *error = path + ": no video stream";
      break;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      context->streams[i]->discard =
          static_cast<int>(i) == video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVRational timeBase = context->streams[video]->time_base;
    ok = true;
    while ((rc = av_read_frame(context, packet)) >= 0) {
      if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY) != 0) {
        const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (stamp != AV_NOPTS_VALUE) times->push_back(std::max(0.0, stamp * av_q2d(timeBase)));
      }
      av_packet_unref(packet);
    }
    if (rc != AVERROR_EOF) {
      *error = path + ": " + AvError(rc);
      ok = false;
    }
  } while (false);
  av_packet_free(&packet);
  avformat_close_input(&context);
  if (!ok) return false;
  std::sort(times->begin(), times->end());
  times->erase(std::unique(times->begin(), times->end()), times->end());
  return true;
}

std::string KeyframeLister::Format(double seconds) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.3f", std::round(seconds * 1000.0) / 1000.0);
  std::string value = text;
  while (!value.empty() && value.back() == '0') value.pop_back();
  if (!value.empty() && value.back() == '.') value.pop_back();
  return value;
}
