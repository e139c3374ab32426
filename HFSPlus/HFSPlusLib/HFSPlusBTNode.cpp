#include <algorithm>
#include <cstring>

#include "HFSPlusBTree.h"
#include "HFSPlusError.h"

CHFSPlusBTNode::CHFSPlusBTNode(const unsigned char* buf, unsigned short size, int ownsBuffer)
    : m_wNodeSize(size),
      m_llLastError(HfsCode(__LINE__, kHfsKindMissing)),
      m_pBuffer(const_cast<unsigned char*>(buf)),
      m_iOwnsBuffer(ownsBuffer)
{
    if (!IsValidNode(buf, size)) {
        m_llLastError = HFS_FAIL_AT(0x0C, kHfsKindBadData);
        return;
    }
    m_pDescriptor = std::make_unique<BTNodeDescriptor>();
    std::memcpy(m_pDescriptor.get(), buf, sizeof(BTNodeDescriptor));
    flipNodeDescriptor(m_pDescriptor.get());
    m_llLastError = 0;
}

CHFSPlusBTNode::~CHFSPlusBTNode()
{
    if (m_iOwnsBuffer)
        delete[] m_pBuffer;
}

int CHFSPlusBTNode::IsValidNode(const unsigned char* buf, unsigned short size)
{
    if (!buf || size < 512 || size % 512 != 0)
        return 0;
    const auto kind = static_cast<int8_t>(buf[8]);
    const uint8_t height = buf[9];
    if (kind < kBTLeafNode || kind > kBTMapNode)
        return 0;
    if ((kind == kBTLeafNode && height != 1) || (kind == kBTHeaderNode && height != 0))
        return 0;
    if (ReadBE16(buf + size - 2) != sizeof(BTNodeDescriptor))
        return 0;
    const unsigned int count = ReadBE16(buf + 10);
    if (count == 0)
        return 1;
    // The table of count + 1 offsets must fit behind the descriptor.
    if (2u * (count + 1) > size - sizeof(BTNodeDescriptor))
        return 0;
    unsigned int previous = sizeof(BTNodeDescriptor);
    for (unsigned int i = 1; i <= count; ++i) {
        const unsigned int entry = size - 2u * (i + 1);
        const unsigned int offset = ReadBE16(buf + entry);
        if (offset <= previous || offset > entry)
            return 0;
        previous = offset;
    }
    return 1;
}

unsigned short CHFSPlusBTNode::GetRecordCount() { return m_pDescriptor ? m_pDescriptor->numRecords : 0; }

unsigned char* CHFSPlusBTNode::GetRecord(unsigned short index, unsigned short* length)
{
    if (!m_pDescriptor) {
        m_llLastError = HFS_FAIL_AT(0x3B, kHfsKindMissing);
        return nullptr;
    }
    if (index >= m_pDescriptor->numRecords) {
        m_llLastError = HFS_FAIL_AT(0x3C, kHfsKindBadArgument);
        return nullptr;
    }
    const unsigned int start = ReadBE16(m_pBuffer + m_wNodeSize - 2u * (index + 1u));
    const unsigned int next = ReadBE16(m_pBuffer + m_wNodeSize - 2u * (index + 2u));
    if (length)
        *length = static_cast<unsigned short>(next - start);
    return m_pBuffer + start;
}

int CHFSPlusBTNode::TestNodeBelongToFile()
{
    int answer = 0;
    const unsigned short count = GetRecordCount();
    for (unsigned short i = 0; i < count; ++i) {
        unsigned short length = 0;
        const unsigned char* record = GetRecord(i, &length);
        if (!record || length < 2)
            continue;
        const unsigned int keySize = ReadBE16(record) + 2u;
        if (keySize >= m_wNodeSize)
            return answer;
        if (keySize > length)
            continue;
        const unsigned int dataLength = length - keySize;
        const unsigned char* data = record + keySize;
        const int type16 = dataLength >= 2 ? static_cast<int16_t>(ReadBE16(data)) : -1;
        const uint32_t type32 = dataLength >= 4 ? ReadBE32(data) : 0;
        if (IsValidCatalogThread(data, static_cast<short>(std::min(dataLength, 0x7FFFu))) ||
            (dataLength == 88 && type16 == kHFSPlusFolderRecord) ||
            (dataLength == 248 && type16 == kHFSPlusFileRecord))
            return 4;
        if ((dataLength == 88 && type32 == kHFSPlusAttrForkData) || (dataLength == 72 && type32 == kHFSPlusAttrExtents))
            answer = 8;
        else if (dataLength == 64)
            answer = 3;
    }
    return answer;
}

int IsValidCatalogThread(const unsigned char* data, short length)
{
    if (!data || length < 10)
        return 0;
    HFSPlusCatalogThread thread;
    std::memset(&thread, 0, sizeof thread);
    std::memcpy(&thread, data, std::min<size_t>(static_cast<size_t>(length), sizeof thread));
    flipCatalogThread(&thread);
    if (thread.recordType != kHFSPlusFolderThreadRecord && thread.recordType != kHFSPlusFileThreadRecord)
        return 0;
    return 2 * static_cast<int>(thread.nodeName.length) + 10 == length ? 1 : 0;
}
