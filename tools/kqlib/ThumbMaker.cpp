#include "tools/kqlib/ThumbMaker.h"

#include "tools/kqlib/PayloadInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include <sys/stat.h>

namespace {

constexpr int kJpegQuality = 3;  // mjpeg quantiser scale: 2 is best, 31 worst

struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFreer>;

struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

struct CodecFreer {
  void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;

struct ScalerFreer {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
using Scaler = std::unique_ptr<SwsContext, ScalerFreer>;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

// Decodes the recording's video stream and finds the picture shown at a given time.
class FrameSource {
 public:
  bool Open(const std::string& store, std::string* error) {
    if (!input_.Open(store, error)) return false;
    AVFormatContext* format = input_.context();
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) {
      *error = store + ": the recording has no video stream";
      return false;
    }
    codec_.reset(avcodec_alloc_context3(decoder));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!codec_ || !packet_ || !frame_) {
      *error = "out of memory";
      return false;
    }
    int rc = avcodec_parameters_to_context(codec_.get(), format->streams[stream_]->codecpar);
    if (rc >= 0) rc = avcodec_open2(codec_.get(), decoder, nullptr);
    if (rc < 0) {
      *error = store + ": the video cannot be decoded (" + AvError(rc) + ")";
      return false;
    }
    return true;
  }

  // The first picture at or after `ms`, or the last one before the end; false when none decodes.
  bool FrameAt(int32_t ms, AVFrame* out) {
    AVFormatContext* format = input_.context();
    const AVStream* stream = format->streams[stream_];
    int64_t target = av_rescale_q(ms, AVRational{1, 1000}, stream->time_base);
    if (stream->start_time != AV_NOPTS_VALUE) target += stream->start_time;
    if (av_seek_frame(format, stream_, target, AVSEEK_FLAG_BACKWARD) < 0) {
      av_seek_frame(format, stream_, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    }
    avcodec_flush_buffers(codec_.get());
    bool have = false;
    const auto take = [&]() {
      while (avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
        av_frame_unref(out);
        av_frame_move_ref(out, frame_.get());
        have = true;
        const int64_t shown = out->best_effort_timestamp;
        if (shown != AV_NOPTS_VALUE && shown >= target) return true;
      }
      return false;
    };
    for (;;) {
      const int rc = av_read_frame(format, packet_.get());
      if (rc < 0) break;
      if (packet_->stream_index == stream_) {
        const int sent = avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) continue;
        if (take()) return true;
      } else {
        av_packet_unref(packet_.get());
      }
    }
    // End of the recording: whatever the decoder still holds comes last.
    avcodec_send_packet(codec_.get(), nullptr);
    take();
    return have;
  }

 private:
  PayloadInput input_;
  int stream_ = -1;
  Codec codec_;
  Packet packet_;
  Frame frame_;
};

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool WriteJpeg(const AVFrame* picture, int width, int height, const std::string& path,
               std::string* error) {
  const auto sourceFormat = static_cast<AVPixelFormat>(picture->format);
  Scaler scaler(sws_getContext(picture->width, picture->height, sourceFormat, width, height,
                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
  Frame scaled(av_frame_alloc());
  if (!scaler || !scaled) {
    *error = "cannot scale the picture";
    return false;
  }
  // JPEG pictures use the full 0-255 range.
  const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
  sws_setColorspaceDetails(scaler.get(), coefficients,
                           picture->color_range == AVCOL_RANGE_JPEG ? 1 : 0, coefficients, 1, 0,
                           1 << 16, 1 << 16);
  scaled->format = AV_PIX_FMT_YUV420P;
  scaled->width = width;
  scaled->height = height;
  int rc = av_frame_get_buffer(scaled.get(), 0);
  if (rc < 0) {
    *error = "cannot scale the picture: " + AvError(rc);
    return false;
  }
  sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, scaled->data,
            scaled->linesize);

  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  Codec codec(encoder ? avcodec_alloc_context3(encoder) : nullptr);
  Packet packet(av_packet_alloc());
  if (!codec || !packet) {
    *error = "no JPEG encoder";
    return false;
  }
  codec->width = width;
  codec->height = height;
  codec->pix_fmt = AV_PIX_FMT_YUV420P;
  codec->color_range = AVCOL_RANGE_JPEG;
  codec->time_base = AVRational{1, 25};
  codec->flags |= AV_CODEC_FLAG_QSCALE;
  codec->global_quality = kJpegQuality * FF_QP2LAMBDA;
  scaled->quality = codec->global_quality;
  scaled->pts = 0;
  rc = avcodec_open2(codec.get(), encoder, nullptr);
  if (rc >= 0) rc = avcodec_send_frame(codec.get(), scaled.get());
  if (rc >= 0) rc = avcodec_receive_packet(codec.get(), packet.get());
  if (rc < 0) {
    *error = "cannot encode the picture: " + AvError(rc);
    return false;
  }
  if (!WriteFile(path, packet->data, static_cast<size_t>(packet->size))) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool ThumbMaker::ReadPositionList(const std::string& listFile, std::vector<int32_t>* positions,
                                  std::string* error) {
  positions->clear();
  std::ifstream in(listFile, std::ios::binary);
  if (!in) {
    *error = listFile + ": " + std::strerror(errno);
    return false;
  }
  std::string text(static_cast<size_t>(kMaxListBytes) + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (static_cast<int64_t>(text.size()) > kMaxListBytes) {
    *error = listFile + ": too long for a position list";
    return false;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t first = start;
    size_t last = end;
    while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (last > first &&
           (text[last - 1] == '\r' || text[last - 1] == ' ' || text[last - 1] == '\t')) {
      --last;
    }
    int32_t value = -1;
    const auto result = std::from_chars(text.data() + first, text.data() + last, value);
    if (first < last && result.ec == std::errc() && result.ptr == text.data() + last &&
        value >= 0) {
      if (positions->size() >= kMaxPositions) {
        *error = listFile + ": too many positions";
        return false;
      }
      positions->push_back(value);
    }
    start = end + 1;
  }
  return true;
}

bool ThumbMaker::IsPlainFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool ThumbMaker::Make(const std::string& store, const std::vector<int32_t>& positions,
                      const std::string& folder, int width, int height,
                      const std::function<void(int32_t)>& progress, const std::atomic<bool>& cancel,
                      std::string* error) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    *error = "picture size out of range";
    return false;
  }
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat info = {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = folder + ": not a folder";
    return false;
  }
  if (positions.empty()) return true;
  FrameSource source;
  if (!source.Open(store, error)) return false;
  Frame picture(av_frame_alloc());
  if (!picture) {
    *error = "out of memory";
    return false;
  }
  bool all = true;
  for (const int32_t position : positions) {
    if (cancel.load()) {
      *error = "cancelled";
      return false;
    }
    std::string failure;
    const std::string path = folder + "/" + std::to_string(position) + ".jpg";
    if (!source.FrameAt(position, picture.get())) {
      failure = store + ": no picture at " + std::to_string(position) + " ms";
    } else {
      WriteJpeg(picture.get(), width, height, path, &failure);
    }
    if (!failure.empty()) {
      if (all) *error = failure;
      all = false;
    }
    if (progress) progress(position);
  }
  return all;
}
