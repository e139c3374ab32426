// What the program shell (application delegate, root window and its pages)
// asks of the engine and of the system, one operation per call it makes.
// The shell holds this interface instead of calling the facade directly so
// that its sequences (the wizard, the quit guard, the weekly check) can be
// driven by a scripted engine in tests, without devices, network or
// browser. The default object forwards to ZRUIController, ZRPublicUtilities
// and the desktop services.
#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <string>

#include "DiskVolumeNodeData.h"

class QWidget;

class ZRRootEngine {
public:
    virtual ~ZRRootEngine() = default;

    // The one in use: the forwarding one unless a test set another.
    static ZRRootEngine& current();
    // nullptr restores the forwarding one; not owned.
    static void setCurrent(ZRRootEngine* engine);

    // ---- device list
    virtual void NotifiyDeviceInfoAfterInit(const QString& key);
    virtual void GetDeviceInfoToArray(DiskVolumeNodeArray* array);
    virtual void RefreshDeviceInfo();

    // ---- application
    virtual bool IsAppRunning();
    virtual void initFileType();
    virtual void SetRecoveryType(unsigned int mask);
    virtual void ReleaseDataRecovery();
    // Ends the process with status 0 (a test's engine records it instead).
    virtual void CloseApp();

    // ---- scan, for the quit guard
    virtual bool IsScanRunning();
    virtual bool IsPause();
    virtual void PauseOrResumeScan();

    // ---- saved scan results
    virtual void beginSaveOrRestoreNode(bool save, const QString& path);
    virtual QString GetSavePath();

    // ---- settings of the first run and of the weekly check
    virtual std::optional<std::string> isFristTime();
    virtual bool writeFristTime();
    virtual std::optional<std::string> getUpDataTimeStr();
    virtual bool writeUpDataTimeStr(const std::string& text);

    // ---- network and desktop
    virtual bool isCanBeUseNetWork();
    // The property list at url as a dictionary; empty when it cannot be read.
    virtual QVariantMap ReadRemoteDictionary(const QString& url);
    // Opens url in the default browser (nothing for an empty one).
    virtual void OpenUrl(const QString& url);
};
