// Storage media arriving and leaving. The unit watches block devices (whole
// disks and partitions, whatever the bus) and turns what it sees into two
// application notifications on the default centre:
//   "RefreshAttachDevice"  once per burst of arrivals (and once at start),
//   "RefreshDetachDevice"  once per removed medium, userInfo {"USBPath": name}
//                          where name is the name the disk page shows for a
//                          whole disk (its registry name: "big.img" for a
//                          loop device reading that file, "ATA Fast Disk")
//                          and the kernel name of a partition ("sdb1"),
//                          and "BSDName": the device name below /dev.
// Events come from the udev monitor when a udev daemon runs; without one the
// unit rescans /sys/block every two seconds and compares.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

// Starts the unit on the calling (main) thread; a second call does nothing.
void USBNotifier_init();
// Stops the unit; safe to call when it never started.
void USBNotifier_dealloc();
// Makes the event source (udev monitor, else the rescan timer) and drains
// what is present once; false when neither could be set up.
bool registerForUSBNotifications();

// Arrival: posts "RefreshAttachDevice" (no object).
void usbDeviceAdded();
// Removal of one medium: posts "RefreshDetachDevice" with its name, unless
// the name is empty, longer than 255 bytes or not ASCII text, and with
// "BSDName" its device name below /dev (kernelName, when given and plain).
void usbDeviceRemoved(const std::string& name, const std::string& kernelName = {});

// The "DEVNAME" property of an event, without a leading "/dev/", into
// buffer as a NUL-terminated string; false for a null buffer, a size below 1,
// a missing value or one that does not fit.
bool GetBSDName(const std::map<std::string, std::string>& properties, char* buffer, size_t size);
// "/dev/" followed by the kernel name, bounded by size (always terminated
// when size > 0). Linux has no separate raw nodes: the flag changes nothing.
char* BSDName2DevPath(char* destination, size_t size, const char* bsdName, bool raw);

// What one block-device event means to the windows.
struct MediaEvent {
    enum Kind { Attach, Detach };
    Kind kind = Attach;
    std::string name;  // kernel name of the device
};

// Reads one event as udev or the kernel tells it: KEY=VALUE pairs separated
// by new lines or NUL bytes (other lines, such as the header line of
// "udevadm monitor" or the kernel's "add@/devices/..." line, are skipped).
// Only the block subsystem counts: "add" and "change" are arrivals, "remove"
// a removal. Nothing for anything else.
std::optional<MediaEvent> ParseMediaEventText(const std::string& text);
std::optional<MediaEvent> ParseMediaEventProperties(const std::map<std::string, std::string>& properties);

// Block devices under a sysfs block folder: each disk and each of its
// partitions (a sub-folder holding a "partition" file), with its size in
// 512-byte units (0 when unreadable). At most 4096 entries are read.
std::map<std::string, unsigned long long> ScanSysBlock(const std::string& sysBlock = "/sys/block");

// The registry names (see BlockRegistryName) of the whole disks under a
// sysfs block folder, by kernel name.
std::map<std::string, std::string> MediaRegistryNames(const std::string& sysBlock = "/sys/block");

// Compares two scans: whether anything arrived (a new name, or a size that
// went from 0 to more) and the names that left (gone, or size down to 0).
struct MediaChanges {
    bool attached = false;
    std::map<std::string, bool> detached;  // ordered names
};
MediaChanges CompareMediaScans(const std::map<std::string, unsigned long long>& before,
                               const std::map<std::string, unsigned long long>& after);

// Test seams: with a sysfs folder set, the unit polls that folder instead of
// opening a udev monitor; FeedMediaEventText hands it one recorded event as
// if the monitor had read it; RescanMediaNow polls at once.
void USBNotifier_SetSysBlockForTest(const std::string& sysBlock);
void USBNotifier_FeedMediaEventText(const std::string& text);
void USBNotifier_RescanMediaNow();
// How long arrivals are gathered into one "RefreshAttachDevice" (ms).
constexpr int kMediaAttachBurstMs = 400;
