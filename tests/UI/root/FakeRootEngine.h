// A scripted engine for the program shell: a device list made in the test,
// recorded calls, no devices, network or browser.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "ZRRootEngine.h"
#include "ZRUIDeviceData.h"

struct FakeVolume {
    const char* name;
    unsigned long long capacity;
    int beCanOpen = 1;
};

struct FakeDisk {
    const char* name;
    unsigned long long capacity;
    std::vector<FakeVolume> volumes;
    int isUsb = 0;
    int isDmg = 0;
    const char* device = nullptr;  // the device name below /dev
};

class FakeRootEngine : public ZRRootEngine {
public:
    FakeRootEngine() { ZRRootEngine::setCurrent(this); }
    ~FakeRootEngine() override { ZRRootEngine::setCurrent(nullptr); }

    // The device list that GetDeviceInfoToArray hands out (fresh items on
    // every call, as the facade makes them).
    std::vector<FakeDisk> disks;

    void NotifiyDeviceInfoAfterInit(const QString& key) override { notified.push_back(key); }
    void GetDeviceInfoToArray(DiskVolumeNodeArray* array) override
    {
        if (!array)
            return;
        int diskIndex = 0;
        for (const FakeDisk& disk : disks) {
            _DiskVolumeData record;
            record.name = disk.name;
            record.capacity = disk.capacity;
            record.diskIndex = diskIndex;
            record.isUsb = disk.isUsb;
            record.isDmg = disk.isDmg;
            record.deviceName = disk.device;
            record.fileSystem = 10;
            DiskVolumeNodeDataPtr item = DiskVolumeNodeData::initWithNodeData(record);
            DiskVolumeNodeArray children;
            int volumeIndex = 0;
            for (const FakeVolume& volume : disk.volumes) {
                _DiskVolumeData v;
                v.name = volume.name;
                v.capacity = volume.capacity;
                v.diskIndex = diskIndex;
                v.volumeIndex = volumeIndex++;
                v.beCanOpen = volume.beCanOpen;
                v.fileSystem = 2;
                children.push_back(DiskVolumeNodeData::initWithNodeData(v));
            }
            item->setSubNode(std::move(children));
            array->push_back(item);
            ++diskIndex;
        }
        ++deviceListReads;
    }
    void RefreshDeviceInfo() override { ++refreshes; }
    bool IsAppRunning() override { return appRunning; }
    void initFileType() override { ++fileTypeInits; }
    void SetRecoveryType(unsigned int mask) override { masks.push_back(mask); }
    void ReleaseDataRecovery() override { ++releases; }
    void CloseApp() override { ++closes; }
    bool IsScanRunning() override { return scanState == 2 || scanState == 3; }
    bool IsPause() override { return scanState == 3; }
    void PauseOrResumeScan() override
    {
        if (scanState == 2)
            scanState = 3;
        else if (scanState == 3)
            scanState = 2;
    }
    void beginSaveOrRestoreNode(bool save, const QString& path) override
    {
        loads.push_back((save ? "save " : "load ") + path);
    }
    QString GetSavePath() override { return savePath; }
    std::optional<std::string> isFristTime() override { return settings("FristTime"); }
    bool writeFristTime() override
    {
        values["FristTime"] = "NO";
        return true;
    }
    std::optional<std::string> getUpDataTimeStr() override { return settings("upDataTimeStr"); }
    bool writeUpDataTimeStr(const std::string& text) override
    {
        values["upDataTimeStr"] = text;
        return true;
    }
    bool isCanBeUseNetWork() override
    {
        ++networkProbes;
        return network;
    }
    QVariantMap ReadRemoteDictionary(const QString& url) override
    {
        remoteReads.push_back(url);
        return remote;
    }
    void OpenUrl(const QString& url) override { opened.push_back(url); }

    std::optional<std::string> settings(const std::string& key)
    {
        auto it = values.find(key);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }

    bool appRunning = false;
    int scanState = 0;  // 0 idle, 2 running, 3 paused
    bool network = true;
    QVariantMap remote;
    QString savePath;
    std::map<std::string, std::string> values;

    QStringList notified;
    std::vector<unsigned int> masks;
    QStringList loads;
    QStringList remoteReads;
    QStringList opened;
    int deviceListReads = 0;
    int refreshes = 0;
    int fileTypeInits = 0;
    int releases = 0;
    int closes = 0;
    int networkProbes = 0;
};
