#include "tools/mp4box/Mp4Interleaver.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/error.h>
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFreer>;

Input OpenInput(const std::string& path, std::string* error) {
  AVFormatContext* context = nullptr;
  int rc = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    *error = path + ": " + AvError(rc);
    return nullptr;
  }
  Input input(context);
  rc = avformat_find_stream_info(context, nullptr);
  if (rc < 0) {
    *error = path + ": " + AvError(rc);
    return nullptr;
  }
  return input;
}

// One stream of the source, read by a demuxer of its own so that the others' samples are skipped
// by the index instead of buffered: memory stays flat however the source is laid out.
struct StreamReader {
  Input input;
  int sourceIndex = 0;
  AVStream* output = nullptr;
  Packet packet;
  bool hasPacket = false;
  bool finished = false;
  int64_t lastDts = AV_NOPTS_VALUE;

  bool Advance(std::string* error) {
    hasPacket = false;
    while (!finished) {
      av_packet_unref(packet.get());
      const int rc = av_read_frame(input.get(), packet.get());
      if (rc == AVERROR_EOF) {
        finished = true;
        return true;
      }
      if (rc < 0) {
        *error = "Cannot read the source: " + AvError(rc);
        return false;
      }
      if (packet->stream_index != sourceIndex) continue;
      if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = packet->pts != AV_NOPTS_VALUE ? packet->pts : lastDts;
      lastDts = packet->dts;
      hasPacket = true;
      return true;
    }
    return true;
  }

  int64_t DtsMs() const {
    const AVStream* stream = input->streams[sourceIndex];
    return packet->dts == AV_NOPTS_VALUE ? 0
                                         : av_rescale_q(packet->dts, stream->time_base, {1, 1000});
  }
};

int64_t FloorDiv(int64_t value, int64_t divisor) {
  return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

bool IsMp4Family(const AVInputFormat* format) {
  const std::string names = format != nullptr && format->name != nullptr ? format->name : "";
  return names.find("mp4") != std::string::npos || names.find("mov") != std::string::npos;
}

bool WriteInterleaved(const std::string& input, const std::string& partPath, int chunkMs,
                      std::string* error) {
  Input probe = OpenInput(input, error);
  if (!probe) return false;
  if (!IsMp4Family(probe->iformat)) {
    *error = input + ": not an MP4 file";
    return false;
  }

  AVFormatContext* rawOutput = nullptr;
  int rc = avformat_alloc_output_context2(&rawOutput, nullptr, "mp4", partPath.c_str());
  if (rc < 0 || rawOutput == nullptr) {
    *error = "Cannot prepare the output: " + AvError(rc);
    return false;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> output(
      rawOutput, [](AVFormatContext* context) {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
      });

  // Video first in every chunk, then audio, then anything else the file carries.
  std::vector<StreamReader> readers;
  for (const AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
    for (unsigned i = 0; i < probe->nb_streams; ++i) {
      const AVStream* source = probe->streams[i];
      if (source->codecpar->codec_type != type) continue;
      StreamReader reader;
      reader.input = OpenInput(input, error);
      if (!reader.input) return false;
      for (unsigned j = 0; j < reader.input->nb_streams; ++j) {
        reader.input->streams[j]->discard = j == i ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
      }
      reader.sourceIndex = static_cast<int>(i);
      reader.output = avformat_new_stream(output.get(), nullptr);
      if (reader.output == nullptr) {
        *error = "Cannot add a stream to the output.";
        return false;
      }
      rc = avcodec_parameters_copy(reader.output->codecpar, source->codecpar);
      if (rc < 0) {
        *error = "Cannot copy the stream parameters: " + AvError(rc);
        return false;
      }
      reader.output->codecpar->codec_tag = 0;
      reader.output->time_base = source->time_base;
      reader.output->disposition = source->disposition;
      av_dict_copy(&reader.output->metadata, source->metadata, 0);
      reader.packet.reset(av_packet_alloc());
      readers.push_back(std::move(reader));
    }
  }
  if (readers.empty()) {
    *error = input + ": no audio or video stream";
    return false;
  }
  av_dict_copy(&output->metadata, probe->metadata, 0);

  rc = avio_open(&output->pb, partPath.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) {
    *error = partPath + ": " + AvError(rc);
    return false;
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  rc = avformat_write_header(output.get(), &options);
  av_dict_free(&options);
  if (rc < 0) {
    *error = "Cannot write the output header: " + AvError(rc);
    return false;
  }

  for (StreamReader& reader : readers) {
    if (!reader.Advance(error)) return false;
  }
  for (;;) {
    bool any = false;
    int64_t earliest = 0;
    for (const StreamReader& reader : readers) {
      if (!reader.hasPacket) continue;
      earliest = any ? std::min(earliest, reader.DtsMs()) : reader.DtsMs();
      any = true;
    }
    if (!any) break;
    const int64_t chunkEnd = (FloorDiv(earliest, chunkMs) + 1) * chunkMs;
    for (StreamReader& reader : readers) {
      while (reader.hasPacket && reader.DtsMs() < chunkEnd) {
        AVPacket* packet = reader.packet.get();
        av_packet_rescale_ts(packet, reader.input->streams[reader.sourceIndex]->time_base,
                             reader.output->time_base);
        packet->stream_index = reader.output->index;
        packet->pos = -1;
        rc = av_write_frame(output.get(), packet);
        if (rc < 0) {
          *error = "Cannot write the output: " + AvError(rc);
          return false;
        }
        if (!reader.Advance(error)) return false;
      }
    }
  }
  rc = av_write_trailer(output.get());
  if (rc < 0) {
    *error = "Cannot finish the output: " + AvError(rc);
    return false;
  }
  return true;
}

}  // namespace

bool Mp4Interleaver::Interleave(const std::string& input, const std::string& output, int chunkMs,
                                std::string* error) {
  av_log_set_level(AV_LOG_ERROR);
  const std::string partPath = output + ".part";
  const bool written = WriteInterleaved(input, partPath, chunkMs, error);
  if (!written) {
    std::remove(partPath.c_str());
    return false;
  }
  if (std::rename(partPath.c_str(), output.c_str()) != 0) {
    *error = output + ": cannot be written";
    std::remove(partPath.c_str());
    return false;
  }
  return true;
}
