// Movie frames through libavformat and libavcodec. The input is a copy of a
// found file and may be cut short or damaged anywhere: the demuxer reads it
// through a source of our own that stops at the read budget and the
// deadline (the interrupt callback ends the library's own loops), opens no
// further file, the decoders run on this thread only, and no frame may
// exceed the pixel cap.
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "ThumbnailInternal.h"
#include "ThumbnailService.h"

namespace ThumbnailService {
namespace {

// At most this many packets of the chosen stream are decoded in one pass.
constexpr int kMaxPacketsPerPass = 1500;

struct FormatCloser {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecCloser {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ScalerFree {
    void operator()(SwsContext* sws) const { sws_freeContext(sws); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;

// Damaged input makes the libraries talk a lot; none of it is for the user.
void QuietLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The movie's bytes reach the demuxer through this source only: a regular
// file, read up to the byte budget and until the deadline.
class Source {
public:
    Source(const QString& path, const Deadline& deadline) : m_deadline(deadline)
    {
        // Without waiting for a writer when the path is a FIFO.
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (m_fd >= 0 && (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_size = m_fd >= 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    }
    ~Source()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    bool IsOpen() const { return m_fd >= 0 && m_size > 0; }
    bool Expired() const { return m_deadline.Expired(); }

    static int Read(void* opaque, uint8_t* buffer, int size)
    {
        auto* self = static_cast<Source*>(opaque);
        if (self->m_deadline.Expired() || self->m_read >= kMaxMovieReadBytes)
            return AVERROR_EXIT;
        const std::int64_t room = std::min<std::int64_t>(size, kMaxMovieReadBytes - self->m_read);
        const ssize_t n = ::read(self->m_fd, buffer, static_cast<size_t>(room));
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF;
        self->m_read += n;
        return static_cast<int>(n);
    }

    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence)
    {
        auto* self = static_cast<Source*>(opaque);
        if (whence & AVSEEK_SIZE)
            return self->m_size;
        const off_t at = ::lseek(self->m_fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
    }

private:
    const Deadline& m_deadline;
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_read = 0;
};

int Interrupt(void* opaque) { return static_cast<const Source*>(opaque)->Expired() ? 1 : 0; }

// Playlists and references inside a file would open further files: none
// is opened.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

struct IoFree {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using IoPtr = std::unique_ptr<AVIOContext, IoFree>;

constexpr int kIoBufferBytes = 64 * 1024;

// An opened movie: its source, demuxer and the decoder of its best video
// stream (members end in reverse order: the decoder first, the source last).
struct OpenMovie {
    std::unique_ptr<Source> source;
    IoPtr io;
    FormatPtr format;
    CodecPtr codec;
    AVStream* stream = nullptr;
};

bool Open(const QString& path, const Deadline& deadline, OpenMovie& movie)
{
    movie.source = std::make_unique<Source>(path, deadline);
    if (!movie.source->IsOpen())
        return false;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (!buffer)
        return false;
    movie.io.reset(avio_alloc_context(buffer, kIoBufferBytes, 0, movie.source.get(), Source::Read, nullptr, Source::Seek));
    if (!movie.io) {
        av_free(buffer);
        return false;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return false;
    raw->pb = movie.io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->io_open = RefuseNestedOpen;
    raw->interrupt_callback.callback = Interrupt;
    raw->interrupt_callback.opaque = movie.source.get();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "5000000", 0);
    av_dict_set(&options, "analyzeduration", "5000000", 0);
    const int opened = avformat_open_input(&raw, "", nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;  // raw is freed by avformat_open_input
    movie.format.reset(raw);
    movie.format->max_analyze_duration = 5 * AV_TIME_BASE;
    if (avformat_find_stream_info(movie.format.get(), nullptr) < 0 || deadline.Expired())
        return false;
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(movie.format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder)
        return false;
    movie.stream = movie.format->streams[index];
    const AVCodecParameters* params = movie.stream->codecpar;
    if (params->width <= 0 || params->height <= 0 || 1LL * params->width * params->height > kMaxPixels)
        return false;
    movie.codec.reset(avcodec_alloc_context3(decoder));
    if (!movie.codec || avcodec_parameters_to_context(movie.codec.get(), params) < 0)
        return false;
    movie.codec->thread_count = 1;
    movie.codec->max_pixels = kMaxPixels;
    return avcodec_open2(movie.codec.get(), decoder, nullptr) >= 0;
}

// The first decoded frame at or after target (stream time; AV_NOPTS_VALUE
// takes the first frame), else the last frame decoded before the input or
// the budget ran out.
FramePtr DecodeFrom(OpenMovie& movie, std::int64_t target, const Deadline& deadline)
{
    FramePtr frame(av_frame_alloc());
    FramePtr last(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!frame || !last || !packet)
        return nullptr;
    bool haveLast = false;
    AVCodecContext* codec = movie.codec.get();
    const int index = movie.stream->index;

    // Takes whatever the decoder has ready; true when the wanted frame came.
    auto receive = [&]() {
        while (avcodec_receive_frame(codec, frame.get()) == 0) {
            if (frame->width <= 0 || frame->height <= 0) {
                av_frame_unref(frame.get());
                continue;
            }
            const std::int64_t at = frame->best_effort_timestamp;
            if (target == AV_NOPTS_VALUE || at == AV_NOPTS_VALUE || at >= target)
                return true;
            av_frame_unref(last.get());
            av_frame_move_ref(last.get(), frame.get());
            haveLast = true;
        }
        return false;
    };

    if (movie.stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        // A cover picture stored beside the stream: its only frame.
        if (movie.stream->attached_pic.size <= 0 || avcodec_send_packet(codec, &movie.stream->attached_pic) < 0)
            return nullptr;
        avcodec_send_packet(codec, nullptr);
        target = AV_NOPTS_VALUE;
        return receive() ? std::move(frame) : nullptr;
    }

    int packets = 0;
    bool flushed = false;
    while (!deadline.Expired() && packets < kMaxPacketsPerPass) {
        const int read = av_read_frame(movie.format.get(), packet.get());
        if (read < 0) {
            avcodec_send_packet(codec, nullptr);
            flushed = true;
            if (receive())
                return frame;
            break;
        }
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        ++packets;
        // A damaged packet is skipped; the decoder goes on with the next.
        const int sent = avcodec_send_packet(codec, packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN))
            continue;
        if (receive())
            return frame;
    }
    if (!flushed && !deadline.Expired()) {
        avcodec_send_packet(codec, nullptr);
        if (receive())
            return frame;
    }
    return haveLast ? std::move(last) : nullptr;
}

QImage ToImage(const AVFrame& frame, QSize box)
{
    if (frame.width <= 0 || frame.height <= 0 || frame.format < 0 || 1LL * frame.width * frame.height > kMaxPixels)
        return QImage();
    // The display size: pixels need not be square.
    QSize display(frame.width, frame.height);
    const AVRational sar = frame.sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) {
        const std::int64_t width = av_rescale(frame.width, sar.num, sar.den);
        if (width > 0 && width * frame.height <= kMaxPixels)
            display.setWidth(static_cast<int>(width));
    }
    const QSize out = FittedSize(display, box);
    ScalerPtr scaler(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), out.width(),
                                    out.height(), AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler)
        return QImage();
    QImage image(out, QImage::Format_RGB888);
    if (image.isNull())
        return QImage();
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    const int rows = sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return rows == out.height() ? image : QImage();
}

// One pass: open, seek to fraction of the length when there is one, decode.
FramePtr TakeFrame(const QString& path, double fraction, const Deadline& deadline)
{
    OpenMovie movie;
    if (!Open(path, deadline, movie))
        return nullptr;
    std::int64_t target = AV_NOPTS_VALUE;
    const std::int64_t length = movie.format->duration;
    if (fraction > 0 && length != AV_NOPTS_VALUE && length > 0) {
        const std::int64_t at = static_cast<std::int64_t>(static_cast<double>(length) * std::min(fraction, 1.0));
        target = av_rescale_q(at, AV_TIME_BASE_Q, movie.stream->time_base);
        if (movie.stream->start_time != AV_NOPTS_VALUE)
            target += movie.stream->start_time;
        if (av_seek_frame(movie.format.get(), movie.stream->index, target, AVSEEK_FLAG_BACKWARD) >= 0)
            avcodec_flush_buffers(movie.codec.get());
    }
    return DecodeFrom(movie, target, deadline);
}

}  // namespace

QImage MovieFrame(const QString& path, double fraction, QSize box)
{
    QuietLibraries();
    const Deadline deadline(kDecodeTimeCap);
    FramePtr frame = TakeFrame(path, fraction, deadline);
    // A copy cut short may hold its start only: then its first frame.
    if (!frame && fraction > 0 && !deadline.Expired())
        frame = TakeFrame(path, 0, deadline);
    return frame ? ToImage(*frame, box) : QImage();
}

}  // namespace ThumbnailService
