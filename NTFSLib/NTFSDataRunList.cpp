#include "NTFSDataRunList.h"

#include <algorithm>
#include <cstring>

#include "IRSData.h"
#include "ResultCode.h"
#include "Log.h"
#include "NTFSBytes.h"
#include "NTFSUpdateSequence.h"

using namespace ntfsbytes;

namespace {

// Sign-extends the low `width` bytes of v.
long long SignExtend(unsigned long long v, int width)
{
    if (width <= 0)
        return 0;
    if (width >= 8)
        return static_cast<long long>(v);
    const int shift = 64 - 8 * width;
    return static_cast<long long>(v << shift) >> shift;
}

// Bytes needed to hold v in two's complement.
int SignedWidth(long long v)
{
    for (int w = 1; w < 8; ++w) {
        const long long lo = -(1LL << (8 * w - 1));
        const long long hi = (1LL << (8 * w - 1)) - 1;
        if (v >= lo && v <= hi)
            return w;
    }
    return 8;
}

void EmitLE(std::vector<uint8_t>& out, long long v, int width)
{
    const auto u = static_cast<unsigned long long>(v);
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

// Decodes runs as (LCN, VCN, length); calls add for each. Stops at a 0
// header, at the end of the buffer, or at a field that would pass it.
template <class Add>
void Decode(const uint8_t* buffer, long long length, Add add)
{
    long long cluster = 0, vcn = 0, p = 0;
    while (p < length && buffer[p] != 0) {
        const int L = buffer[p] & 0x0F;
        const int O = buffer[p] >> 4;
        if (L > 8 || O > 8 || p + 1 + L + O > length)
            break;
        unsigned long long len = 0, off = 0;
        for (int i = 0; i < L; ++i)
            len |= static_cast<unsigned long long>(buffer[p + 1 + i]) << (8 * i);
        for (int i = 0; i < O; ++i)
            off |= static_cast<unsigned long long>(buffer[p + 1 + L + i]) << (8 * i);
        const long long offset = SignExtend(off, O);
        long long lcn = -1;
        if (O > 0) {
            // Wrapping arithmetic: a damaged offset gives a wrong cluster,
            // which later range checks refuse, never undefined behaviour.
            lcn = static_cast<long long>(static_cast<unsigned long long>(cluster) +
                                         static_cast<unsigned long long>(offset));
            cluster = lcn;
        }
        add(lcn, vcn, static_cast<long long>(len));
        vcn = static_cast<long long>(static_cast<unsigned long long>(vcn) + len);
        p += 1 + L + O;
    }
}

}  // namespace

bool CNTFSDataRunList::IsValid(const uint8_t* buffer, long long length)
{
    if (!buffer || length < 1)
        return false;
    long long p = 0;
    while (true) {
        if (p >= length)
            return false;
        const uint8_t h = buffer[p];
        if (h == 0)
            return true;
        const int L = h & 0x0F, O = h >> 4;
        if (L > 4 || O > 4)
            return false;
        if (p + 1 + L + O >= length)
            return false;
        p += 1 + L + O;
    }
}

void CNTFSDataRunList::FormDataRunList(const uint8_t* buffer, long long length, RunList& list)
{
    VANTREL_ASSERT(buffer && length > 0);
    Decode(buffer, length, [&](long long lcn, long long vcn, long long len) {
        auto run = std::make_unique<CDataRun>();
        run->m_s64LCN = lcn;
        run->m_s64VCN = vcn;
        run->m_s64Length = len;
        list.push_back(std::move(run));
    });
}

unsigned int CNTFSDataRunList::GetTotalClusters(const uint8_t* buffer, long long length)
{
    unsigned int total = 0;
    if (!buffer || length < 1)
        return 0;
    Decode(buffer, length, [&](long long, long long, long long len) { total += static_cast<unsigned int>(len); });
    return total;
}

bool CNTFSDataRunList::InitFromBuffer(const uint8_t* buffer, long long length)
{
    m_runs.clear();
    if (!IsValid(buffer, length))
        return false;
    FormDataRunList(buffer, length, m_runs);
    return true;
}

bool CNTFSDataRunList::AddDataRunsfromBuffer(const uint8_t* buffer, long long length, long long firstVCN)
{
    if (!IsValid(buffer, length))
        return false;
    RunList added;
    FormDataRunList(buffer, length, added);
    for (auto& run : added) {
        run->m_s64VCN += firstVCN;
        m_runs.push_back(std::move(run));
    }
    return true;
}

void CNTFSDataRunList::AddDataRun(long long lcn, long long vcn, long long length)
{
    auto run = std::make_unique<CDataRun>();
    run->m_s64LCN = lcn;
    run->m_s64VCN = vcn;
    run->m_s64Length = length;
    m_runs.push_back(std::move(run));
}

long long CNTFSDataRunList::GetTotalClusters() const
{
    long long total = 0;
    for (const auto& run : m_runs)
        total += run->m_s64Length;
    return total;
}

long long CNTFSDataRunList::GetLCN(long long vcn) const
{
    VANTREL_ASSERT(!m_runs.empty());
    for (const auto& run : m_runs) {
        if (run->m_s64Length <= 0 || vcn < run->m_s64VCN || vcn - run->m_s64VCN >= run->m_s64Length)
            continue;
        if (run->m_s64LCN < 0)
            return -1;
        return vcn - run->m_s64VCN + run->m_s64LCN;
    }
    return -1;
}

long long CNTFSDataRunList::GetVCN(long long lcn) const
{
    for (const auto& run : m_runs) {
        if (run->m_s64LCN < 0 || run->m_s64Length <= 0)
            continue;
        if (lcn >= run->m_s64LCN && lcn - run->m_s64LCN < run->m_s64Length)
            return lcn - run->m_s64LCN + run->m_s64VCN;
    }
    return -1;
}

void CNTFSDataRunList::GetDataRunList(RunList& out) const
{
    for (const auto& run : m_runs)
        out.push_back(std::make_unique<CDataRun>(*run));
}

void CNTFSDataRunList::Sort()
{
    m_runs.sort([](const std::unique_ptr<CDataRun>& a, const std::unique_ptr<CDataRun>& b) {
        return a->m_s64VCN < b->m_s64VCN;
    });
}

bool CNTFSDataRunList::IsEqual(const CNTFSDataRunList& other) const
{
    if (m_runs.size() != other.m_runs.size())
        return false;
    auto it = other.m_runs.begin();
    for (const auto& run : m_runs) {
        const CDataRun& o = **it++;
        if (run->m_s64VCN != o.m_s64VCN || run->m_s64LCN != o.m_s64LCN || run->m_s64Length != o.m_s64Length)
            return false;
    }
    return true;
}

int CNTFSDataRunList::Save(IRSData& data) const
{
    const unsigned long long count = m_runs.size();
    if (!data.WriteCurFrame(&count, sizeof(count)))
        return 0;
    for (const auto& run : m_runs) {
        const long long fields[3] = {run->m_s64LCN, run->m_s64Length, run->m_s64VCN};
        if (!data.WriteCurFrame(fields, sizeof(fields)))
            return 0;
    }
    return 1;
}

int CNTFSDataRunList::Restore(IRSData& data)
{
    unsigned long long count = 0;
    if (data.GetFrameRemaining() < sizeof(count) || !data.ReadCurFrameExact(&count, sizeof(count)))
        return 0;
    // The count is untrusted: it must fit into what the frame still holds.
    if (count > data.GetFrameRemaining() / 24)
        return 0;
    for (unsigned long long i = 0; i < count; ++i) {
        long long fields[3] = {};
        if (!data.ReadCurFrameExact(fields, sizeof(fields)))
            return 0;
        AddDataRun(fields[0], fields[2], fields[1]);
    }
    return 1;
}

void CResidentNTFSDataRunList::InitList(long long startSector, long long length, unsigned int dataOffset)
{
    const DataRun run{startSector, length};
    CDataRunList::AddDataRun(&run);
    m_dwDataOffset = dataOffset;
}

IDataRunList* CResidentNTFSDataRunList::Clone()
{
    auto* copy = new CResidentNTFSDataRunList();
    for (DataRun* r = GetFirst(); r; r = GetNext())
        copy->CDataRunList::AddDataRun(r);
    copy->m_dwDataOffset = m_dwDataOffset;
    return copy;
}

IDataRunList* CNoneResidentNTFSDataRunList::Clone()
{
    auto* copy = new CNoneResidentNTFSDataRunList();
    for (DataRun* r = GetFirst(); r; r = GetNext())
        copy->CDataRunList::AddDataRun(r);
    return copy;
}

bool CNoneResidentNTFSDataRunList::InitFromBuffer(const uint8_t* buffer, long long length)
{
    if (!buffer || length < 1)
        return true;
    Decode(buffer, length, [&](long long lcn, long long, long long len) {
        const DataRun run{lcn, len};
        CDataRunList::AddDataRun(&run);
    });
    return true;
}

CCompressedDataRunList* CCompressedDataRunList::Compress(IDataRunList* list)
{
    VANTREL_ASSERT(list);
    unsigned int offset = 0;
    if (list->GetDataRunListType() == 1) {
        offset = static_cast<unsigned int>(list->GetOffset());
        VANTREL_ASSERT(offset != 0);
    } else {
        VANTREL_ASSERT(list->GetOffset() == 0);
    }
    std::vector<uint8_t> out;
    out.reserve(128);
    long long previous = 0;
    for (DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
        const bool sparse = r->llStart < 0;
        const long long delta =
            static_cast<long long>(static_cast<unsigned long long>(r->llStart) - static_cast<unsigned long long>(previous));
        const int offsetWidth = sparse ? 0 : SignedWidth(delta);
        const int lengthWidth = SignedWidth(r->llLength);
        out.push_back(static_cast<uint8_t>(offsetWidth << 4 | lengthWidth));
        EmitLE(out, r->llLength, lengthWidth);
        if (!sparse) {
            EmitLE(out, delta, offsetWidth);
            previous = r->llStart;
        }
    }
    if (out.empty())
        return nullptr;
    out.push_back(0);
    auto* compact = new CCompressedDataRunList();
    compact->m_u16DataOffset = static_cast<uint16_t>(offset);
    compact->m_vecBytes = std::move(out);
    return compact;
}

IDataRunList* CCompressedDataRunList::Decompress() const
{
    VANTREL_ASSERT(!m_vecBytes.empty());
    if (m_u16DataOffset != 0) {
        auto* resident = new CResidentNTFSDataRunList();
        long long start = 0, length = 0;
        bool first = true;
        Decode(m_vecBytes.data(), static_cast<long long>(m_vecBytes.size()),
               [&](long long lcn, long long, long long len) {
                   if (first) {
                       start = lcn;
                       length = len;
                       first = false;
                   }
               });
        resident->InitList(start, length, m_u16DataOffset);
        return resident;
    }
    auto* runs = new CNoneResidentNTFSDataRunList();
    runs->InitFromBuffer(m_vecBytes.data(), static_cast<long long>(m_vecBytes.size()));
    return runs;
}

// ---- index records ----

bool CStandardIndexHeader::IsValidMagicNumber(const uint8_t* b) { return b && std::memcmp(b, "INDX", 4) == 0; }
unsigned int CStandardIndexHeader::GetOffsetofIndexEntries(const uint8_t* b) { return U32(b + 24) + 24; }
unsigned int CStandardIndexHeader::GetSizeofIndexEntries(const uint8_t* b) { return U32(b + 28); }
unsigned long long CStandardIndexHeader::GetVCN(const uint8_t* b) { return U64(b + 16); }
unsigned long long CStandardIndexHeader::GetLogFileSequenceNumber(const uint8_t* b) { return U64(b + 8); }

bool CStandardIndexHeader::IsValid(const uint8_t* b, unsigned int size)
{
    if (!b || size < 512 || !IsValidMagicNumber(b))
        return false;
    const uint32_t allocated = U32(b + 32), inUse = U32(b + 28), first = U32(b + 24);
    const uint16_t usaOffset = U16(b + 4), count = U16(b + 6);
    if (allocated > size || inUse > allocated)
        return false;
    if (count > 16 || static_cast<uint16_t>(count - 1) > size / 512)
        return false;
    if (static_cast<uint16_t>(count - 1) != static_cast<uint16_t>((static_cast<unsigned long long>(allocated) + first) >> 9))
        return false;
    return usaOffset >= 40 && usaOffset <= 256;
}

bool CIndexRecord::IsValidUpdateSequence(const uint8_t* b, unsigned int size)
{
    return b && size >= 512 && ntfsusa::IsValid(b, size);
}

bool CIndexRecord::UnfixupIndexRecord(uint8_t* b, unsigned int size)
{
    if (!IsValidUpdateSequence(b, size))
        return false;
    ntfsusa::Remove(b, size);
    return true;
}

bool CIndexRecord::FixupIndexRecord(uint8_t* b, unsigned int size)
{
    return b && size >= 512 && ntfsusa::Apply(b, size);
}

bool CIndexRecord::IsValid(const uint8_t* entry) { return U64(entry + 64) <= U64(entry + 56); }

bool CIndexRecord::CheckIndexEntries(const uint8_t* b, unsigned int size)
{
    const unsigned long long first = CStandardIndexHeader::GetOffsetofIndexEntries(b);
    const unsigned long long end = std::min<unsigned long long>(first + U32(b + 28), size);
    if (first + 24 > end)
        return first <= end;
    const uint64_t parent = U64(b + first + 16);
    unsigned long long p = first;
    while (p + 16 <= end) {
        const uint16_t length = U16(b + p + 8);
        const uint16_t flags = U16(b + p + 12);
        if (flags & 2)
            return true;
        if (flags != 1) {
            if (length == 0)
                return true;
            if (p + 72 > end)
                return false;
            if (!IsValid(b + p))
                return false;
            if (U64(b + p + 16) != parent)
                return false;
        } else if (length == 0) {
            return true;
        }
        p += length;
    }
    return true;
}

bool CIndexRecord::IsValid(uint8_t* b, unsigned int size)
{
    if (!CStandardIndexHeader::IsValid(b, size))
        return false;
    const bool unfixed = UnfixupIndexRecord(b, size);
    if (!unfixed)
        return false;
    const bool ok = CheckIndexEntries(b, size);
    FixupIndexRecord(b, size);
    return ok;
}

unsigned int CIndexRecord::GetParentFileReference(uint8_t* b, unsigned int size)
{
    if (!IsValid(b, size))
        return 0xFFFFFFFFu;
    const unsigned long long first = CStandardIndexHeader::GetOffsetofIndexEntries(b);
    if (first + 24 > size)
        return 0xFFFFFFFFu;
    return U32(b + first + 16);
}

// ---- log record pages ----

bool CRCRDRecord::IsValidRCRDRecordFirstSector(const uint8_t* b, unsigned int size)
{
    return b && size >= 512 && std::memcmp(b, "RCRD", 4) == 0;
}

bool CRCRDRecord::IsValidUpdateSequence(const uint8_t* b, unsigned int size)
{
    VANTREL_ASSERT(b && size >= 4096);
    if (U16(b + 6) != 9 || U16(b + 4) != 40)
        return false;
    const uint16_t usn = U16(b + 40);
    for (unsigned int k = 0; k < 8; ++k)
        if (U16(b + k * 512 + 510) != usn)
            return false;
    return true;
}

bool CRCRDRecord::IsValid(const uint8_t* b, unsigned int size)
{
    return b && size >= 4096 && std::memcmp(b, "RCRD", 4) == 0 && IsValidUpdateSequence(b, size);
}

bool CRCRDRecord::Unfixup(uint8_t* b, unsigned int size)
{
    if (!IsValid(b, size))
        return false;
    for (unsigned int k = 0; k < 8; ++k)
        std::memcpy(b + k * 512 + 510, b + 42 + 2 * k, 2);
    return true;
}

bool CRCRDRecord::GetRecordHead(const uint8_t* b, unsigned int size, const uint8_t** out)
{
    if (!IsValidRCRDRecordFirstSector(b, size))
        return false;
    *out = b;
    return true;
}

bool CRCRDRecord::GetOperationRecordHeader(const uint8_t* b, unsigned int size, const uint8_t** out)
{
    if (!b || size < 48)
        return false;
    *out = b;
    return true;
}
