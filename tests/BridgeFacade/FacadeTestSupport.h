// The fake machine the facade tests scan, and a recorder of what the
// windows would hear from the bridge.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"

class IEnumDeviceEx;
class IFileNode;

// The machine, listed through the facade once per process:
//   disk "loop0"  vol.img, volume "BRIDGEVOL" (make-bridge-images.sh)
//   disk "sda"    disk.img with EFISYS, DATA and MORE; MORE has the device
//                 number of the temporary folders' file system
//   disk "loop1"  preview.img, volume "PREVIEWS" (make-preview-image.sh)
void EnsureFacadeMachine();
// The devices of enumerator (none for null) replace the listed ones, once the
// scan has forgotten the device of its last scan, which went with them.
void UseEnumerator(IEnumDeviceEx* enumerator);
// For a test that lists devices of its own: the shared machine's devices are
// used and listed again (when it was made), so that the tests after it in the
// same process find them and no pointer into the test's own devices is kept.
void ReinstallFacadeMachineDevices();
// The device list as the disk page gets it.
DiskVolumeNodeArray FacadeDevices();
// The disk or volume item of that name, or null.
DiskVolumeNodeDataPtr FindDevice(const QString& name);
// preview.img's folder (its source files are in src/).
std::string PreviewImage(const std::string& name);

// Names the bridge posted (object ZRUIPublic::ClassObject()) while it lives.
class BridgeListener {
public:
    BridgeListener();
    ~BridgeListener();
    int Count(const std::string& name);
    bool AllOnMainThread();
    // Calls probe on the main thread each time name arrives.
    void OnEach(const std::string& name, std::function<void()> probe);

private:
    std::mutex m_lock;
    std::vector<std::string> m_names;
    bool m_bOffMain = false;
    std::string m_strProbeName;
    std::function<void()> m_probe;
};

// Runs the event loop until done() holds or the time is up; the last answer.
bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));

// Starts a scan of the named item through the facade and waits until the
// last notification says it no longer runs.
bool ScanThroughFacade(const QString& name, bool deep = false);

// Every found file of the current result by name.
std::vector<IFileNode*> FoundFiles();
IFileNode* FoundFile(const std::string& name);
