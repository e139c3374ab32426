#include "ImageFileDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CImageFileDevice::CImageFileDevice(unsigned int sectorSize, int type) : m_dwSectorSize(sectorSize), m_iType(type) {}

CImageFileDevice::~CImageFileDevice()
{
    Close();
    delete m_pData;
}

int CImageFileDevice::Open(char* path)
{
    Close();
    m_llLastError = 0;
    if (!path || m_dwSectorSize == 0) {
        m_llLastError = kBadArgument;
        return 0;
    }
    m_fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        Close();
        m_llLastError = kOpenFailed;
        return 0;
    }
    m_llTotalSectors = static_cast<long long>(st.st_size) / m_dwSectorSize;
    return 1;
}

int CImageFileDevice::Close()
{
    if (m_fd < 0)
        return 0;
    ::close(m_fd);
    m_fd = -1;
    return 1;
}

int CImageFileDevice::ReadSector(void* buffer, long long first, long long count)
{
    m_llLastError = 0;
    if (!buffer || first < 0 || count < 1 || first >= m_llTotalSectors || count > m_llTotalSectors - first) {
        m_llLastError = kBadArgument;
        return 0;
    }
    const size_t length = static_cast<size_t>(count) * m_dwSectorSize;
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    bool failed = m_fd < 0;
    const off_t offset = static_cast<off_t>(first) * m_dwSectorSize;
    while (!failed && done < length) {
        ssize_t n = ::pread(m_fd, out + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failed = true;
        else
            done += static_cast<size_t>(n);
    }
    if (failed) {
        std::memset(out, 0, length);
        m_llLastError = kReadFailed;
        return 0;
    }
    return 1;
}

int CImageFileDevice::IOCtl(unsigned long long, void*)
{
    m_llLastError = kUnsupported;
    return 0;
}

void CImageFileDevice::SetPrivateData(IStorageDeviceData* data)
{
    if (data == m_pData)
        return;
    delete m_pData;
    m_pData = data;
}

std::unique_ptr<CImageFileDevice> OpenImageFileDisk(const std::string& path, unsigned int sectorSize)
{
    auto device = std::make_unique<CImageFileDevice>(sectorSize);
    std::string p = path;
    if (!device->Open(p.data()))
        return nullptr;
    auto* info = new CCollectDiskDeviceInfoStruct;
    info->s64SectorSize = sectorSize;
    info->s64TotalSectors = device->GetTotalSectors();
    device->SetPrivateData(CreateDiskDeviceData(info));
    return device;
}
