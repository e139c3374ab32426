// The one door through which the windows reach the recovery engine. The
// class is never instantiated: every operation is a static function, called
// on the application's (main) thread unless its comment says otherwise. It
// keeps no state of its own; it forwards to the bridge's process-wide
// operations (scan, recovery, saving and loading, device list, filter, the
// type and time trees), starts their threads and turns engine objects into
// outline items and images.
//
// Notifications: the windows pass the name they observe (the notification
// key); the bridge posts exactly that name on the default notification
// centre, on the main thread, with ZRUIPublic::ClassObject() as the object.
//
// Engine file nodes cross into the windows as FileNodeValue (a 64-bit value
// holding an IFileNode address). Items and values must be dropped before the
// next scan or load releases the engine's result.
#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <list>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "ResultCode.h"

class IFileNode;
class QObject;
class ZRUIOperation;

// The result code of a recovery asked for without a selection or without a
// destination folder (failure, module 2, kind 1).
constexpr ResultCode kZRUIControllerNoRecoveryTarget = 0x0102055700000001ULL;
// The result code of a recovery asked for while the previous one still runs.
constexpr ResultCode kZRUIControllerRecoveryBusy = 0x0102055800000001ULL;

class ZRUIController {
public:
    ZRUIController() = delete;

    // ---- devices ------------------------------------------------------------
    // List never built: builds it on a thread of its own, then posts key.
    // List ready: posts key at once (asynchronously). Being built: nothing
    // (the running build posts its own key). The windows pass "aInitFinished".
    static void NotifiyDeviceInfoAfterInit(const QString& key);
    // Builds the device list on the calling thread (the argument is unused).
    static void InitDeviceInfoInBgThread(const void* unused = nullptr);
    // Appends one item per disk of the device list, in the list's order; a
    // disk with volumes gets one item per volume as its children (set with
    // setSubNode). Reads the list the last build made. Null array: nothing.
    static void GetDeviceInfoToArray(DiskVolumeNodeArray* array);
    // Stops a running scan without building its trees, waits for it to end
    // (at most 30 checks one second apart), builds the device list again on
    // the calling thread and forgets the device of the last scan.
    static void RefreshDeviceInfo();

    // ---- scan ---------------------------------------------------------------
    // Scans the disk or volume of data (found again in the device list by
    // its disk and volume index) as a quick scan. Null data: nothing. The
    // results window passes "NormalScranValue"; target is not used.
    static void DoScanWithData(DiskVolumeNodeData* data, const QString& key, QObject* target = nullptr);
    // A deep scan of the device of the last scan; nothing when there was
    // none or it is no longer in the device list. Call ResetShouldBuild first.
    static void DoDeepScan(QObject* target, const QString& key);
    // Starts the scan of a device of the list when the scan operation has
    // exited; otherwise (or for unknown indexes) nothing is started or posted.
    static void DoScanWithDiskIndex(unsigned int diskIndex, unsigned int volumeIndex, const QString& key,
                                    QObject* target = nullptr);
    // The scan worker's body (device address); runs the scan synchronously.
    static void DoScanFn(quint64 device);
    // 0 folders, 1 file types, 2 creation time, 3 modification time,
    // 4 last-access time.
    static void SetViewType(int viewType);
    static bool IsDeepScan();
    // The last scan's device has no known file system (see
    // ZRUIScan::FoundNoKnownFileSystem).
    static bool FoundNoKnownFileSystem();
    // In the folder view, every found folder becomes pending again, so the
    // next tree request lists it anew.
    static void RefreshData();
    // Unchecks every found node.
    static void UnselectedAllNodes();
    // Gives back the data-recovery objects of the scan and of the recovery.
    static void ReleaseDataRecovery();

    // ---- progress and control of the scan ----------------------------------
    // percent = done x 100 / total (a total of 0 counts as 1); fileCnt = files
    // found so far. Returns the remaining time "HH:MM:SS", or "-:-:-" while
    // no estimate can be made. Null outputs are skipped.
    static QString GetScanProgress(double* percent, quint64* fileCnt);
    static void GetScanFileSize(quint64* size, quint64* cnt);
    // Running becomes paused and paused running; other states are left.
    static void PauseOrResumeScan();
    // Asks the scan to stop; non-zero flag: without building the result
    // trees. IsScanRunning stays true until the worker has ended.
    static void StopScan(int flag);
    static void ResetShouldBuild();
    // Stop asked, running or paused.
    static bool IsScanRunning();
    static bool IsPause();

    // ---- name search ----------------------------------------------------------
    // False (and nothing started) while a search is flagged as running.
    // Otherwise stores text as the key (an empty text clears it), starts the
    // search thread, which posts key when done, and returns true. The results
    // window passes "DoSearchValue"; object is not used.
    static bool DoSearchWithString(const QString& text, const void* object, const QString& key);
    // The search thread's body.
    static void DoSearchFn(const QString& key);
    // The stored key, "" when none.
    static QString GetSearchString();
    // Clears the searching flag.
    static void StopSearch();

    // ---- recovery -------------------------------------------------------------
    // The wanted type groups: 1 pictures, 2 music, 4 movies, 8 archives,
    // 16 documents, 32 other; 127 everything.
    static void SetRecoveryType(unsigned int mask);
    // Every shown, checked file of the result (type group by group), adding
    // their sizes to *size (the caller starts it at 0; may be null).
    static FileNodeArray GetSelectedFilesAndSize(quint64* size);
    // Number and size of the checked files; also the totals of the next
    // recovery.
    static void GetSelectedFilesAmout(unsigned int* count, quint64* size);
    // True when folder lies on the device of the current scan (for a whole
    // disk: on any volume of it).
    static bool IsRecoveryToSameDevice(const QString& folder);
    // Copies every checked, shown file of the result below folder on a
    // worker thread; key is posted on each progress step and once more at
    // the end. selection only has to be non-null (the check marks choose the
    // files). A null selection or an empty folder: kZRUIControllerNoRecoveryTarget
    // and nothing starts; a recovery still running: kZRUIControllerRecoveryBusy;
    // otherwise 0. The results window passes "DoRecovery".
    static ResultCode DoRecovery(const void* selection, const QString& folder, const QString& key,
                                 const void* object = nullptr);
    // The recovery worker's body.
    static void DoRecoveryFn(const void* unused = nullptr);
    // Bytes to copy, bytes copied and the last error code; returns the name
    // of the file being copied, "" when none. Null outputs are skipped.
    static QString GetRecoveryProgressTotal(quint64* total, quint64* current, qint64* errorCode);
    // Running or paused.
    static bool IsRecoveryRunning();
    static void StopRecvoery();
    static void PauseOrResumeRecovery();
    static quint64 GetRecoveridedSize();
    static quint64 GetRecoveridedFiles();

    // ---- saving and loading a scan result --------------------------------------
    // save: marks the save operation running, else the scan (a load replays
    // into it); then a polling thread posts key on each progress step and
    // "QueryProgressFinish" when the operation has ended. The windows pass
    // "QueryProgressInfo" when saving, "NormalScranValue" when loading.
    static void RestorPostUIUpdate(const QString& key, bool save);
    // save: writes the current result to path; else clears the result and
    // loads path. Both run on threads of their own and return at once.
    static void beginSaveOrRestoreNode(bool save, const QString& path);
    // Progress of the save (saver true) or of the load; a finished record
    // reports done equal to total. Null outputs are skipped.
    static void GetSaveorRestoreProgress(quint64* total, quint64* current, qint64* errorCode, bool saver);
    // "<work folder>/SaveScan", created when missing (no intermediate
    // folders; errors ignored).
    static QString GetDefaultSavePath();
    // "SavePath" of the settings; a null string when absent or unreadable.
    static QString GetSavePath();
    // Stores folder under "SavePath"; nothing is written when the settings
    // cannot be read.
    static void SavePathToPList(const QString& folder);
    // "<device name>_MM-DD-YYYY at HH_MM_SS" in local time (the window adds
    // the extension "rsf").
    static QString GetSaveFileName();

    // ---- application helpers -----------------------------------------------------
    // Hands the five file-type group lists to the engine; once at start.
    static void initFileType();
    // True when another process of this application runs.
    static bool IsAppRunning();
    // Ends the process with exit status 0.
    [[noreturn]] static void CloseApp();
    // User-experience hooks: they take their arguments and do nothing.
    static void SpyIDInstall();
    static void SpyIDEnd();
    static void SpyIDIncreateTable1(int event);
    static void SpyIDIncreateTable2(int identifier, int value);
    static void SpyIDStringTable1(int event, const QString& text);
    static void SpyIDWStringTable1(int event, const QString& text);
    static void SpyIDStringTable2(int event, const QString& text);
    static void SpyIDSaveToServerTable();

    // ---- operation threads ----------------------------------------------------------
    // Starts the state-query thread of op (it posts key on each update while
    // op's trees are finished, and once at the end if it never posted), then
    // the worker on a thread with a large stack. Set op running first.
    // False when a thread could not be made.
    static bool DoOperation(std::function<void()> worker, ZRUIOperation* op, const QString& key);
    // The state-query thread's body.
    static void QueryStatusAndUpdateUI(ZRUIOperation* op, const QString& key);
    // The save/load polling thread's body: posts key on each update and
    // "QueryProgressFinish" once op has ended.
    static void QueryUpdateUI(ZRUIOperation* op, const QString& key);

    // ---- result trees and node getters ------------------------------------------
    // Fills array with the root items of the current view's tree (see the
    // outline assembly). clear: every found file-system root is first shown
    // and unchecked. Null array: nothing. Returns 0.
    static int GetScanTreeNodeData(OpNodeArray* array, bool clear);
    static void AddNodeToArr(OpNodeArray* array);
    static void AddPathNodeToArray(OpNodeArray* array);
    static void AddTypeNodeToArr(OpNodeArray* array);
    static void AddDateNodeToArray(OpNodeArray* array);
    static bool IsFileNode(IFileNode* node, OpNodeArray* array);
    // The files shown for item, by its type (0 path, 1 type group, 2-4 time
    // group).
    static int GetFileNodeToArray(FileNodeArray* files, OpNodeData* item);
    static int GetPathInfoToArray(FileNodeArray* files, OpNodeData* item);
    static int GetTypeInfoToArray(FileNodeArray* files, OpNodeData* item);
    static int GetDateInfoToArray(FileNodeArray* files, OpNodeData* item);
    // With a search key: appends every shown file, type group by group.
    static void GetSearchResultToArr(FileNodeArray* files);
    // The count shown beside a group's name.
    static long long GetNodeChildrenCnt(OpNodeData* item);
    static long long GetTimeNodeChildrenCnt(OpNodeData* item);
    // An item: that type group's state from its files; null: every group.
    static void RefreshTypeTreeState(OpNodeData* item);
    // Recomputes every year and month group below the given time roots.
    static void RefreshTimeTreeState(OpNodeArray* roots);
    static void setNodeState(OpNodeData* item, const std::vector<IFileNode*>& witchVector);
    // The icon of a file extension from the type tree's icon cache.
    static QImage getImageForType(const QString& extension);

    // ---- previews (any thread) -----------------------------------------------------
    // A preview of the item's file: a frame of a movie, the picture of a
    // camera-raw or layered-image file, the decoded picture for pictures up
    // to 100 MiB, else the icon of the file's extension; null when none can
    // be made.
    static QImage GetNSImageByNode(OpNodeData* item);
    static QImage GetNSImageByFildNodeNSNumber(FileNodeValue fileNode);
    static QImage GetNSImageByFildNode(IFileNode* node);
    // A thumbnail (at most 192 x 192) of a file on this machine through the
    // thumbnail service, else the largest JPEG picture embedded in it; null
    // when it cannot be rendered.
    static QImage getVideoThumbFromPath(const QString& path);
};

// Thumbnails of a camera-raw or layered-image file and of a movie, through a
// temporary copy of the file's data (the previews' own paths).
QImage GetRawPicThumb(IFileNode* node);
QImage GetVideoThumb(IFileNode* node);
