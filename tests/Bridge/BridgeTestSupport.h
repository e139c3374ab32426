// Shared pieces of the bridge tests: the Qt application object the main-
// thread notifications need, and a recorder of the names posted.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Makes the process's QCoreApplication once (the test thread is its main
// thread).
void EnsureBridgeApp();

// Runs the event loop until done() holds or the time is up; the last answer.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));

// Collects every name posted while it lives, with the thread it arrived on.
class NotificationRecorder {
public:
    NotificationRecorder();
    ~NotificationRecorder();
    int Count(const std::string& name);
    bool AllOnMainThread();

private:
    int m_iId;
    std::mutex m_lock;
    std::vector<std::string> m_names;
    bool m_bOffMain = false;
};

// The images of make-bridge-images.sh, made once per test process.
std::string BridgeImage(const std::string& name);

class FakeSys;
// The fake machine of the bridge tests below root:
//   disk 0 "sda", USB: disk.img with the kernel partitions sda1 (EFI), sda2
//   (DATA) and sda3 (MORE); sda3 gets device number sameDev when given.
//   disk 1 "loop0", an attached image: vol.img.
void AddBridgeDisks(FakeSys& sys, const std::string& sameDev = std::string());
