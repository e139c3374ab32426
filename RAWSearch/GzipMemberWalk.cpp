#include "GzipMemberWalk.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "ArchiveAnalysers.h"

struct GzipMemberWalk::Inflater {
    z_stream stream{};
    bool bOpen = false;

    Inflater() { bOpen = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater()
    {
        if (bOpen)
            inflateEnd(&stream);
    }
};

GzipMemberWalk::GzipMemberWalk() = default;
GzipMemberWalk::~GzipMemberWalk() = default;

long long GzipMemberWalk::HeaderLength() const
{
    const size_t n = m_head.size();
    if (n < 10)
        return 0;
    if (!IsValidGzHeader(m_head.data()))
        return -1;
    const unsigned flags = m_head[3];
    size_t p = 10;
    if (flags & 4) {
        if (n < 12)
            return 0;
        p = 12 + (m_head[10] | (m_head[11] << 8));
    }
    for (unsigned text : {8u, 16u}) {
        if (!(flags & text))
            continue;
        if (p >= n)
            return 0;
        const void* zero = std::memchr(m_head.data() + p, 0, n - p);
        if (!zero)
            return 0;
        p = static_cast<size_t>(static_cast<const unsigned char*>(zero) - m_head.data()) + 1;
    }
    if (flags & 2)
        p += 2;
    return p <= n ? static_cast<long long>(p) : 0;
}

size_t GzipMemberWalk::FeedHeader(const unsigned char* p, size_t length)
{
    // One byte at a time up to a whole header: headers are short, and the
    // deflate data must start right after it.
    size_t used = 0;
    while (used < length) {
        m_head.push_back(p[used++]);
        const long long header = HeaderLength();
        if (header < 0 || m_head.size() > kMaxHeader) {
            // Not another member: the file ended with the last trailer.
            m_state = m_state == State::NextHeader ? State::Done : State::Damaged;
            return used;
        }
        if (header > 0) {
            m_head.clear();
            m_pInflater = std::make_unique<Inflater>();
            if (!m_pInflater->bOpen) {
                m_state = State::Damaged;
                return used;
            }
            m_state = State::Deflate;
            return used;
        }
        // Before its tenth byte a member's header can be told from other
        // bytes already by its first three.
        if (m_state == State::NextHeader && m_head.size() <= 3) {
            static const unsigned char kMagic[3] = {0x1F, 0x8B, 0x08};
            if (m_head.back() != kMagic[m_head.size() - 1]) {
                m_state = State::Done;
                return used;
            }
        }
    }
    return used;
}

size_t GzipMemberWalk::FeedDeflate(const unsigned char* p, size_t length)
{
    unsigned char out[16384];
    z_stream& s = m_pInflater->stream;
    s.next_in = const_cast<unsigned char*>(p);
    s.avail_in = static_cast<uInt>(length);
    for (;;) {
        s.next_out = out;
        s.avail_out = sizeof(out);
        const int r = inflate(&s, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            const size_t used = length - s.avail_in;
            m_pInflater.reset();
            m_state = State::Trailer;
            m_iTrailerLeft = 8;
            return used;
        }
        if (r != Z_OK && r != Z_BUF_ERROR) {
            m_state = State::Damaged;
            return length;
        }
        // The output not full: every byte was taken and it needs more.
        if (s.avail_out != 0) {
            if (s.avail_in != 0)
                m_state = State::Damaged;
            return length;
        }
    }
}

void GzipMemberWalk::Feed(const unsigned char* p, size_t length)
{
    while (length > 0 && m_state != State::Done && m_state != State::Damaged) {
        size_t used = 0;
        switch (m_state) {
        case State::Header:
        case State::NextHeader:
            used = FeedHeader(p, length);
            break;
        case State::Deflate:
            used = FeedDeflate(p, length);
            break;
        case State::Trailer:
            used = std::min<size_t>(length, static_cast<size_t>(m_iTrailerLeft));
            m_iTrailerLeft -= static_cast<int>(used);
            if (m_iTrailerLeft == 0) {
                m_llEnd = m_llFed + static_cast<long long>(used);
                m_state = State::NextHeader;
            }
            break;
        default:
            break;
        }
        m_llFed += static_cast<long long>(used);
        p += used;
        length -= used;
    }
}

void GzipMemberWalk::Close()
{
    if (m_state == State::NextHeader) {
        m_head.clear();
        m_state = State::Done;
    }
}
