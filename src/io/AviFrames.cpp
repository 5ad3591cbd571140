#include "io/AviFrames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace veilora {

namespace {

// Larger pictures than this are no video a preview shows; the bound keeps a decoder's picture
// memory (what a forged header asks for) near 100 MB and the scaler's arithmetic far from overflow.
constexpr int kMaxVideoSide = 8192;
// Packets read per frame wanted before giving up: audio and empty packets come between the frames.
constexpr int kPacketsPerFrame = 64;
constexpr int kMaxCountedPackets = 1 << 20;

struct TMemorySource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;
};

int ReadMemory(void* opaque, std::uint8_t* buffer, int size) {
  auto* source = static_cast<TMemorySource*>(opaque);
  if (source->position >= source->size) return AVERROR_EOF;
  const std::size_t count = std::min(static_cast<std::size_t>(size), source->size - source->position);
  std::memcpy(buffer, source->data + source->position, count);
  source->position += count;
  return static_cast<int>(count);
}

std::int64_t SeekMemory(void* opaque, std::int64_t offset, int whence) {
  auto* source = static_cast<TMemorySource*>(opaque);
  if ((whence & AVSEEK_SIZE) != 0) return static_cast<std::int64_t>(source->size);
  std::int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<std::int64_t>(source->position); break;
    case SEEK_END: base = static_cast<std::int64_t>(source->size); break;
    default: return -1;
  }
  if (offset > std::numeric_limits<std::int64_t>::max() - base) return -1;
  const std::int64_t target = base + offset;
  if (target < 0 || target > static_cast<std::int64_t>(source->size)) return -1;
  source->position = static_cast<std::size_t>(target);
  return target;
}

// Owns everything one read opens, and frees it in the right order whatever way the read ends.
class TAviSession {
 public:
  TAviSession() {
    static const bool quiet = [] {
      av_log_set_level(AV_LOG_QUIET);
      return true;
    }();
    (void)quiet;
  }
  ~TAviSession() {
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (io_ != nullptr) {
      av_freep(&io_->buffer);
      avio_context_free(&io_);
    }
  }
  TAviSession(const TAviSession&) = delete;
  TAviSession& operator=(const TAviSession&) = delete;

  bool OpenFile(const std::string& fileName) { return Open(fileName.c_str()); }

  bool OpenMemory(const std::uint8_t* data, std::size_t size) {
    memory_ = TMemorySource{data, size, 0};
    constexpr int kBufferBytes = 4096;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferBytes));
    if (buffer == nullptr) return Fail("out of memory");
    io_ = avio_alloc_context(buffer, kBufferBytes, 0, &memory_, ReadMemory, nullptr, SeekMemory);
    if (io_ == nullptr) {
      av_free(buffer);
      return Fail("out of memory");
    }
    return Open(nullptr);
  }

  // Finds the video stream and opens its decoder.
  bool OpenVideo() {
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || decoder == nullptr) return Fail("the file holds no video that can be decoded");
    const AVCodecParameters* parameters = format_->streams[stream_]->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0 || parameters->width > kMaxVideoSide ||
        parameters->height > kMaxVideoSide)
      return Fail("the video's picture size is out of range");
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr || avcodec_parameters_to_context(codec_, parameters) < 0)
      return Fail("out of memory");
    codec_->thread_count = 1;
    // A size change inside the stream is held to the same bound before the decoder allocates.
    codec_->max_pixels = static_cast<std::int64_t>(kMaxVideoSide) * kMaxVideoSide;
    if (avcodec_open2(codec_, decoder, nullptr) < 0) return Fail("the video's decoder cannot start");
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (packet_ == nullptr || frame_ == nullptr) return Fail("out of memory");
    return true;
  }

  void Describe(TAviFrames& result) const {
    const AVStream* stream = format_->streams[stream_];
    result.width = stream->codecpar->width;
    result.height = stream->codecpar->height;
    result.frameCount = stream->nb_frames > 0 && stream->nb_frames < std::numeric_limits<std::int32_t>::max()
                            ? static_cast<std::int32_t>(stream->nb_frames)
                            : 0;
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
      const double delay = 1000.0 * rate.den / rate.num;
      result.delayMs = static_cast<std::int32_t>(std::clamp(delay, 10.0, 5000.0));
    }
  }

  bool DecodeFrames(int maxFrames, int maxSide, TAviFrames& result) {
    const std::int64_t packetLimit =
        static_cast<std::int64_t>(maxFrames) * kPacketsPerFrame + kPacketsPerFrame;
    std::int64_t packets = 0;
    bool flushed = false;
    while (static_cast<int>(result.frames.size()) < maxFrames && !flushed) {
      int status = 0;
      if (packets < packetLimit && av_read_frame(format_, packet_) >= 0) {
        ++packets;
        if (packet_->stream_index != stream_) {
          av_packet_unref(packet_);
          continue;
        }
        status = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
      } else {
        // The end of the data (or of the packets allowed): the decoder gives what it still holds.
        status = avcodec_send_packet(codec_, nullptr);
        flushed = true;
      }
      if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_EOF) continue;
      while (static_cast<int>(result.frames.size()) < maxFrames &&
             avcodec_receive_frame(codec_, frame_) == 0) {
        std::unique_ptr<TBitmap> picture = Convert(maxSide);
        av_frame_unref(frame_);
        if (picture) result.frames.push_back(std::move(picture));
      }
    }
    if (result.frames.empty()) return Fail("no frame of the video could be decoded");
    result.frameCount = std::max(result.frameCount, static_cast<std::int32_t>(result.frames.size()));
    return true;
  }

  std::int32_t CountVideoPackets() {
    std::int32_t count = 0;
    while (count < kMaxCountedPackets && av_read_frame(format_, packet_) >= 0) {
      if (packet_->stream_index == stream_ && packet_->size > 0) ++count;
      av_packet_unref(packet_);
    }
    return count;
  }

  const std::string& Failure() const { return failure_; }

 private:
  bool Open(const char* url) {
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return Fail("out of memory");
    if (io_ != nullptr) {
      format_->pb = io_;
      format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // Only the AVI demuxer reads the data, whatever else they might look like.
    const AVInputFormat* avi = av_find_input_format("avi");
    if (avi == nullptr) return Fail("this build of FFmpeg has no AVI reader");
    if (avformat_open_input(&format_, url, avi, nullptr) < 0) {
      format_ = nullptr;  // freed by the failed open
      return Fail("not an AVI file, or its headers are damaged");
    }
    return true;
  }

  std::unique_ptr<TBitmap> Convert(int maxSide) {
    const int width = frame_->width;
    const int height = frame_->height;
    if (width <= 0 || height <= 0 || width > kMaxVideoSide || height > kMaxVideoSide || frame_->format < 0)
      return nullptr;
    const double scale = std::min(1.0, static_cast<double>(maxSide) / std::max(width, height));
    const int targetWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int targetHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    scaler_ =
        sws_getCachedContext(scaler_, width, height, static_cast<AVPixelFormat>(frame_->format), targetWidth,
                             targetHeight, AV_PIX_FMT_BGR24, SWS_AREA, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return nullptr;
    // The scaler writes whole aligned blocks: rows of its own, copied into the bitmap's.
    const int lineBytes = FFALIGN(targetWidth * 3, 64) + 64;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(lineBytes) *
                                    static_cast<std::size_t>(targetHeight));
    std::uint8_t* planes[4] = {block.data(), nullptr, nullptr, nullptr};
    int lines[4] = {lineBytes, 0, 0, 0};
    if (sws_scale(scaler_, frame_->data, frame_->linesize, 0, height, planes, lines) != targetHeight)
      return nullptr;
    auto picture = std::make_unique<TBitmap>(targetWidth, targetHeight, pf24bit);
    for (int row = 0; row < targetHeight; ++row)
      std::memcpy(picture->ScanLine(row), block.data() + static_cast<std::size_t>(row) * lineBytes,
                  static_cast<std::size_t>(targetWidth) * 3);
    return picture;
  }

  bool Fail(const char* what) {
    if (failure_.empty()) failure_ = what;
    return false;
  }

  TMemorySource memory_{nullptr, 0, 0};
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
  std::string failure_;
};

bool ReadFrames(TAviSession& session, bool opened, int maxFrames, int maxSide, TAviFrames& result,
                std::string* failure) {
  result = TAviFrames{};
  const bool ok =
      opened && session.OpenVideo() &&
      (session.Describe(result), session.DecodeFrames(std::max(1, maxFrames), std::max(1, maxSide), result));
  if (!ok && failure != nullptr) *failure = session.Failure();
  return ok;
}

}  // namespace

bool AviReadFrames(const std::string& fileName, int maxFrames, int maxSide, TAviFrames& result,
                   std::string* failure) {
  TAviSession session;
  return ReadFrames(session, session.OpenFile(fileName), maxFrames, maxSide, result, failure);
}

bool AviReadFramesFromMemory(const std::uint8_t* data, std::size_t size, int maxFrames, int maxSide,
                             TAviFrames& result, std::string* failure) {
  TAviSession session;
  return ReadFrames(session, session.OpenMemory(data, size), maxFrames, maxSide, result, failure);
}

std::int32_t AviFrameCount(const std::string& fileName) {
  TAviSession session;
  if (!session.OpenFile(fileName) || !session.OpenVideo()) return 0;
  TAviFrames info;
  session.Describe(info);
  if (info.frameCount > 0) return info.frameCount;
  return session.CountVideoPackets();
}

}  // namespace veilora
