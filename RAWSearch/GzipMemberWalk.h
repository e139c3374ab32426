// Follows the members of a gzip file through their deflate streams, fed the
// file's bytes in order in pieces of any size, to the end of the last
// member's 8-byte trailer.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class GzipMemberWalk {
public:
    enum class State { Header, Deflate, Trailer, NextHeader, Done, Damaged };

    // Longest header (extra field, name and comment) the walk accepts.
    static constexpr size_t kMaxHeader = 65536;

    GzipMemberWalk();
    ~GzipMemberWalk();
    GzipMemberWalk(const GzipMemberWalk&) = delete;
    GzipMemberWalk& operator=(const GzipMemberWalk&) = delete;

    // The next bytes of the file. Does nothing once done or damaged.
    void Feed(const unsigned char* p, size_t length);
    // No more bytes follow (the device ended): a walk waiting to see
    // whether another member follows is done.
    void Close();

    State GetState() const { return m_state; }
    bool IsDone() const { return m_state == State::Done; }
    bool IsDamaged() const { return m_state == State::Damaged; }
    // The file's length once done: the end of the last member's trailer.
    long long End() const { return m_llEnd; }
    // Bytes fed so far.
    long long Fed() const { return m_llFed; }

private:
    struct Inflater;

    // Bytes of the header collected so far form a whole header: its length,
    // 0 when more bytes are needed, -1 when it is no gzip header.
    long long HeaderLength() const;
    size_t FeedHeader(const unsigned char* p, size_t length);
    size_t FeedDeflate(const unsigned char* p, size_t length);

    State m_state = State::Header;
    std::vector<unsigned char> m_head;
    std::unique_ptr<Inflater> m_pInflater;
    long long m_llFed = 0;
    long long m_llEnd = 0;
    int m_iTrailerLeft = 0;
};
