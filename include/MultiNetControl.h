// SPDX-License-Identifier: MIT
// TamoMultiNetControl: play one programme on several player instances and keep them in step over a LAN.
//
// This is the only header a host application needs. It holds the host-facing value types of the
// NetControlNS namespace, the task executor that the control object is built on, and the exported
// control object MultiNetControl itself.
#pragma once

#include "tamomultinetcontrol_export.h"

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _MSC_VER
// Standard-library members of the exported classes: the host and the library share one C++ runtime.
#pragma warning(push)
#pragma warning(disable : 4251 4275)
#endif

namespace NetControlNS {

// A network address, and also one entry of the master's slave roster.
struct struAddress
{
    std::string ip;               // IPv4 address as dotted text
    int processId = -1;           // process id of the player that sent from this address
    int port = 0;                 // UDP port
    int layerId = -1;             // layer a roster entry stands for; -1 = none
    bool isPrepared = false;      // roster: the slave reported prepared for this layer
    bool isClockSynced = false;   // roster: the slave reported its clock synchronised
    bool isComplete = false;      // roster: the slave reported complete for this layer
    bool isReserved = false;      // never set by the library
    qint64 lastOnlineTime = -1;   // roster: host-clock time (us) of the last heartbeat; -1 = none yet
    int addrType = 3;             // not interpreted; the library's own addresses carry 1
};

// The host's side of the library: a slave's commands arrive here, and both roles read the host clock here.
// Every member may be left empty; an empty member is simply not called. The object must outlive the
// MultiNetControl that it is given to. `userData` is valid only during the call and is null when the
// master attached none. Members 1 to 10 are called on the library's worker thread, masterLostCbk on the
// heartbeat thread; getClockTimeCbk is called from several threads at once and must be thread-safe.
/// Callbacks should return quickly: received commands and clock answers wait for the worker while one
/// runs. A slow host does not make a live master look lost (its heartbeat answers are noted as they
/// arrive, on the receiving thread), and the clock samples keep the times of their arrival, but the
/// offset reaches clockOffsetCbk only when the worker gets to it.
/// getClockTimeCbk is never called while the library holds one of its locks, so it may take a lock of
/// the host's own, also one that the host holds while it calls the object's operations.
class slaveControlCbk
{
public:
    std::function<void(int layerId, double, double, char* userData, int userDataLen)> startCbk;
    std::function<void(int layerId, double speed, char* userData, int userDataLen)> speedCbk;
    std::function<void(int layerId, char* userData, int userDataLen)> stepCbk;
    std::function<void(int layerId, char* userData, int userDataLen)> stepBackCbk;
    std::function<void(int layerId, double, char* userData, int userDataLen)> pauseCbk;
    std::function<void(char* userData, int userDataLen)> prepareCbk;
    std::function<void(int layerId, double, char* userData, int userDataLen)> stopCbk;
    std::function<void(int layerId, qint64 position, bool, double, char* userData, int userDataLen)> seekCbk;
    // Asked when the master searches for its slaves: one partner report is sent per layer id.
    std::function<std::vector<int>()> getLayerIdsCbk;
    // Mean clock offset, slave minus master, in seconds, after each accepted clock sample.
    std::function<void(double seconds)> clockOffsetCbk;
    // The host clock in microseconds; every time in the library is read from it (0 without it).
    /// It must be monotonic (CLOCK_MONOTONIC, std::chrono::steady_clock, QElapsedTimer), never the wall
    /// clock: a slave whose clock steps drags its mean offset through wrong values for the next ten
    /// samples, and a master whose clock steps forward by 3 s or more marks live slaves off line until the
    /// next search (isAllSlaveComplete then passes over them). A clock that throws counts as no clock (0),
    /// with a line at the first throw and at most one every 10 s after.
    /// Clock-sync datagrams carry its value at their departure and, on Linux, at the kernel's receipt of
    /// them: the library reads it beside a system clock and adds or subtracts the system time in between
    /// (at most 1 s; beyond that, or when the system clock stepped, the value read is taken as it is). A
    /// clock that gives the same value across 2 us of system time stands still (a test double, or a
    /// clock coarser than a microsecond) and is taken as it is, never moved.
    std::function<qint64()> getClockTimeCbk;
    // Called once, with true, when the master's heartbeat answers have stopped for 50 s.
    /// The one callback that may destroy the MultiNetControl object (the heartbeat thread then leaves
    /// without touching it again); see the class's note on threads.
    std::function<void(bool)> masterLostCbk;
};

/// A host's receiver of the library's diagnostic lines (see installLogHandler()).
///
/// @param line one line, exactly as the library would print it on standard output, ending in its newline
///             ("\n"); valid only during the call.
using LogHandler = void (*)(const char* line);

/// Sends the library's diagnostic lines to `handler` instead of standard output, in the manner of
/// qInstallMessageHandler().
///
/// The handler is process-wide: it receives the lines of every MultiNetControl of the process, from the
/// moment it is installed. Without a handler (the default, or after installing nullptr) the library prints
/// each line with printf on standard output and flushes it at once. To silence the library, install a
/// handler that does nothing.
///
/// Threads: the handler is called on whichever thread prints the line: the host's threads inside the
/// library's operations, the thread that constructed an object (its receive path), each object's worker
/// thread, and a slave's clock-sync and heartbeat threads. It may be called on several threads at once, so
/// it must be thread-safe; it is called without any lock of the library held. It must not throw (a line
/// whose handler throws is printed on standard output instead) and must return quickly, like the callbacks.
/// A line being printed while the handler is replaced may still reach the previous one.
///
/// Floods: when one kind of line (one format text) repeats, only the first 10 of each second reach the
/// handler or standard output; the rest are counted, and the next line the library prints once that second
/// is over is preceded by one summary line: `logLine: N more lines like "<format>" were left out within
/// one second (at most 10 alike are printed a second)`.
///
/// @param handler the new handler, or nullptr for standard output.
/// @return the handler installed before (nullptr when lines went to standard output).
TAMO_MULTINETCONTROL_EXPORT LogHandler installLogHandler(LogHandler handler);

} // namespace NetControlNS

// One received datagram with its sender, as queued for the worker thread.
class TAMO_MULTINETCONTROL_EXPORT ControlMessage
{
public:
    // A message without data; TaskExecute's quit message is (-1, 0, 0, 0).
    ControlMessage(int msgType, int arg1, int arg2, long long arg3);
    // A received datagram: copies `len` bytes of `data`; with `len` below 1 both data and sender stay empty.
    ControlMessage(const char* data, int len, NetControlNS::struAddress sender);

    int msgType = 0;         // -1 = quit message, 0 = datagram
    int arg1 = 0;            // carried, read by nobody
    int arg2 = 0;
    long long arg3 = 0;
    std::vector<char> data;  // the datagram's bytes
    NetControlNS::struAddress sender;
};

// A queue and one worker thread that hands each posted message, in posting order, to handle_message.
class TAMO_MULTINETCONTROL_EXPORT TaskExecute
{
public:
    // Most messages that may wait for the worker; a flood beyond it is dropped at the door (see postMessage).
    static constexpr std::size_t kMaxQueuedMessages = 65536;
    // Most datagram bytes that may wait for the worker.
    static constexpr std::size_t kMaxQueuedBytes = 64u * 1024u * 1024u;

    // Starts the worker; throws std::system_error when the thread cannot be started.
    TaskExecute();
    virtual ~TaskExecute();

    TaskExecute(const TaskExecute&) = delete;
    TaskExecute& operator=(const TaskExecute&) = delete;

protected:
    // Queues a copy of `msg` and wakes the worker. Returns false, and drops the message, when the queue
    // already holds kMaxQueuedMessages messages or kMaxQueuedBytes bytes (a diagnostic line is printed
    // at the start of each such episode).
    bool postMessage(ControlMessage msg);
    // Ends the worker and joins it. Throws std::system_error (resource_deadlock_would_occur) when called
    // on the worker itself. Messages still queued are never handled.
    void stop();
    // True on the worker thread, that is inside handle_message.
    bool onWorkerThread() const;

private:
    virtual void handle_message(ControlMessage msg) = 0;
    void takeMessage(ControlMessage& out);
    void run();

    std::deque<ControlMessage> m_queue;  // guarded by m_mutex; producers and the worker
    std::size_t m_queuedBytes = 0;       // guarded by m_mutex
    bool m_dropping = false;             // guarded by m_mutex; true while a flood is being dropped
    std::size_t m_droppedCount = 0;      // guarded by m_mutex
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::unique_ptr<std::thread> m_thread;   // created by the constructor, joined and released by stop()
    std::atomic<bool> m_running{true};       // written by stop(), read by the worker
};

// The library's internal classes; nothing of them is exported.
namespace tamo::detail {
class UdpClient;
class SlaveCommandHandler;
class MasterReportHandler;
} // namespace tamo::detail
class MultiNetControlTestAccess;
class QObject;

// The control object: one per player instance. See README.md for a walk through its use.
//
// Threads: construct the object on a thread that runs a Qt event loop (all reception happens there). The
// host may call every other operation from any thread. Host callbacks run on the library's worker thread.
/// Destruction: on the constructing thread, or on any other thread while the constructing thread either
/// keeps running its event loop until the destructor returns (the sockets are closed there; a line every
/// 5 s says so while the destructor waits for it) or has ended. masterLostCbk may destroy the object; the
/// callbacks that run on the worker thread (startCbk to clockOffsetCbk, and getClockTimeCbk wherever it
/// runs) may not: that is reported in one line and ends the process.
//
// User data: a playback command carries at most 4072 bytes of payload and user data together (4056 bytes
// of user data for a start, 4064 for pause, stop and speed, 4048 for seek, 4072 for prepare, step and step
// back). A command whose user data does not fit is refused: nothing is sent, a line says why, and the
// operation returns false. A negative or zero length sends no user data; a null pointer with a positive
// length sends that many zero bytes.
class TAMO_MULTINETCONTROL_EXPORT MultiNetControl : public TaskExecute
{
public:
    static constexpr int kSendBufferSize = 4096;
    /// Most start-clock-sync commands whose clock-sync and heartbeat threads run at once. Each start while
    /// clock sync runs adds a pair of threads beside the earlier ones; at this bound a further start only
    /// sets the clock-sync interval back to 100 ms, and one line per run of ignored starts says so. A stop
    /// ends them all, and the next start begins anew.
    static constexpr int kMaxClockSyncGenerations = 3;
    /// Most roster entries (ports and layers) that one admitted slave ("ip_processId") may hold. Far above
    /// any real player's layer count; reports beyond it are ignored, with one line when the bound is reached.
    static constexpr int kMaxRosterEntriesPerSlave = 64;

    MultiNetControl(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp, unsigned int port);
    ~MultiNetControl() override;

    // Configuration: each prints one line and stores the value; may be called at any time.
    void setMasterFlag(bool master);
    void setSlaveFlag(bool slave);
    void setMasterIp(std::string masterIp);
    void setGroupId(int group_id);

    // Master: the roster of slaves. Entries of `slaves` have the form "ip_processId".
    void setSlaves(QSet<QString> slaves);
    bool findSlavePlayer();
    std::vector<NetControlNS::struAddress> getSlavesPlayer();
    bool isAllSlavePrepared(int layerId);   // layerId -1 = any layer
    bool isAllSlaveComplete(int layerId);   // layerId -1 = any layer; slaves silent for 5 s don't count
    bool isAllSlaveClockSucced();
    void clearSlaveCompleteFlags(int layerId);  // -1 clears only entries of layer -1

    // Master: playback commands to every slave of the group. False on an object that is not master.
    bool notifySlavePrepareAsync(int layerId, char* userData, int userDataLen);
    bool notifySlaveStart(double first, double second, int layerId, char* userData, int userDataLen);
    bool notifySlavePause(double value, int layerId, char* userData, int userDataLen);
    bool notifySlaveStop(double value, int layerId, char* userData, int userDataLen);
    bool notifySlaveSeek(qint64 position, bool flag, int layerId, double value, char* userData, int userDataLen);
    bool notifySlaveSpeed(double speed, int layerId, char* userData, int userDataLen);
    bool notifySlaveStep(int layerId, char* userData, int userDataLen);
    bool notifySlaveStepBack(int layerId, char* userData, int userDataLen);
    // Sent once per process: false while m_haveStartClockSync is true.
    bool notifySlaveStartClockSync();
    bool notifySlaveStopClockSync();

    // Slave: reports to the master. False on an object that is not slave.
    bool reportPrepared(int layerId);
    bool reportComplete(int layerId);

    /// Whether both sockets are bound to the IP text and port given to the constructor. False when the text
    /// is not a dotted IPv4 address, the machine has no such address or the port is taken; the object then
    /// receives nothing there, and its operations still return as usual: a host should check this after
    /// construction and refuse to go on. Safe from any thread.
    bool isListening() const;
    /// Why isListening() is false: the address, the port and the system's reason, one text per socket
    /// that failed (for example "192.0.2.1 port 47000: The address is not available"); empty while it is true.
    std::string errorString() const;

    // True once any object of this process has sent the start of clock synchronisation; the host may
    // set it back to false to allow another start.
    static std::atomic<bool> m_haveStartClockSync;

private:
    friend class tamo::detail::SlaveCommandHandler;
    friend class tamo::detail::MasterReportHandler;
    friend class MultiNetControlTestAccess;

    void handle_message(ControlMessage msg) override;
    void recvBroadcastMsgHandle(const char* data, int len, NetControlNS::struAddress from);
    void recvUnicastMsgHandle(const char* data, int len, NetControlNS::struAddress from);
    // On the receiving thread: notes the time of a heartbeat answer from this slave's master as it arrives,
    // so that commands queued before it cannot delay it.
    void noteMasterAnswerOnReceipt(const char* data, int len, const NetControlNS::struAddress& from);

    // Builds one datagram in m_sendBuf; returns its length, or -1 when the user data does not fit.
    // Call with m_sendMutex held.
    int assembleData(unsigned short code, short layerId, const void* data, int dataLen,
                     const char* userData, int userDataLen);
    // Builds a datagram and hands it to the unicast endpoint as one step against every other sender.
    // False when it does not fit the send buffer (nothing is sent).
    bool sendDatagram(unsigned short code, int layerId, const void* payload, int payloadLen,
                      const char* userData, int userDataLen, const NetControlNS::struAddress& dest);
    // The shared path of the master's playback commands: role test, refusal line, send, sent line.
    bool sendMasterCommand(unsigned short code, const char* operation, int layerId, const void* payload,
                           int payloadLen, const char* userData, int userDataLen, const char* sentLine);
    bool sendSlaveReport(unsigned short code, int layerId);

    bool syncThread();
    bool heartSyncThread();
    // Starts the clock-sync and heartbeat threads of one start-clock-sync command.
    void startClockSyncThreads();
    // Clears m_clockSyncRunning and wakes the threads from their sleeps.
    void stopClockSyncThreads();
    // Sleeps up to `ms` milliseconds; returns early, with false, once clock sync has stopped.
    bool sleepWhileClockSyncRuns(int ms);
    void joinClockSyncThreads();

    void setSlaveLastOnlineTime(qint64 time, NetControlNS::struAddress addr);
    std::string getCurrentTime();
    NetControlNS::struAddress masterAddress() const;
    std::string masterIp() const;

    NetControlNS::struAddress m_broadcastAddr;  // set by the constructor, then only read
    NetControlNS::struAddress m_masterAddr;     // guarded by m_addressMutex; written by the worker, read by all senders
    // Owned; created by the constructor, closed and released by the destructor on the constructing thread.
    std::unique_ptr<tamo::detail::UdpClient> m_unicastClient;
    std::unique_ptr<tamo::detail::UdpClient> m_broadcastClient;
    unsigned int m_port;
    char m_sendBuf[kSendBufferSize];            // guarded by m_sendMutex
    std::vector<NetControlNS::struAddress> m_slaves;  // guarded by m_rosterMutex; host threads and the worker
    NetControlNS::slaveControlCbk* m_cbk;       // not owned; the host keeps it alive
    std::vector<double> m_offsetSamples;        // worker thread only
    int m_offsetIndex = 0;                      // worker thread only
    double m_offsetSum = 0;                     // worker thread only
    std::atomic<bool> m_clockSyncRunning{false};  // written by the worker and the destructor, read by the clock threads
    // Threads of the latest start-clock-sync command, and those of earlier starts that still run. Started
    // by the worker, joined by the worker at a start after a stop and by the destructor after the worker ended.
    std::thread m_syncThread;
    std::thread m_heartThread;
    std::vector<std::thread> m_earlierClockThreads;
    std::atomic<quint16> m_syncIntervalMs{1000};  // written by the worker and the host, read by the clock-sync thread
    quint16 m_seq = 0;                          // guarded by m_sendMutex
    std::atomic<int> m_groupId;                 // written by the host, read by every sender and the worker
    qint64 m_netDelayDelt = 0;                  // worker thread only
    qint64 m_clockOffset = 0;                   // worker thread only
    double m_offsetMean = 0;                    // worker thread only
    bool m_clockSynced = false;                 // worker thread only
    bool m_clockPreparedSent = false;           // worker thread only
    const std::string m_localIp;
    std::string m_masterIp;                     // guarded by m_addressMutex; written by the host, read by the worker
    std::atomic<bool> m_isSlave{false};         // written by the host, read by every thread
    std::atomic<bool> m_isMaster{false};        // written by the host, read by every thread
    QSet<QString> m_slaveSet;                   // guarded by m_rosterMutex
    std::atomic<qint64> m_lastMasterTime{-1};   // written by the worker and the receiving thread, read by the heartbeat threads
    std::atomic<bool> m_masterLostNotified{false};  // heartbeat threads
    std::atomic<int> m_clockSyncGenerations{0};   // written by the worker (and the destructor after it), read by tests
    bool m_ignoredStartsReported = false;         // worker thread (and the destructor after it)
    // Lives on the constructing thread: the endpoints are closed there, whichever thread destroys the object.
    std::unique_ptr<QObject> m_endpointThreadContext;

    mutable std::mutex m_sendMutex;             // one datagram built and sent at a time
    mutable std::mutex m_rosterMutex;           // m_slaves and m_slaveSet
    mutable std::mutex m_addressMutex;          // m_masterAddr and m_masterIp
    std::mutex m_clockSyncWakeMutex;            // pairs with m_clockSyncWake
    std::condition_variable m_clockSyncWake;    // wakes sleeping clock threads when clock sync stops
};

#ifdef _MSC_VER
#pragma warning(pop)
#endif
