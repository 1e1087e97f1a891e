// SPDX-License-Identifier: MIT
/// @file MultiNetControl.h
/// TamoMultiNetControl: play one programme on several player instances and keep them in step over a LAN.
///
/// This is the only header a host application needs. It holds the host-facing types of the NetControlNS
/// namespace (struAddress, slaveControlCbk, the log handler), the task executor that the control object is
/// built on, and the exported control object MultiNetControl itself.
#pragma once

#include "tamomultinetcontrol_export.h"

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef _MSC_VER
// Standard-library members of the exported classes: the host and the library share one C++ runtime.
#pragma warning(push)
#pragma warning(disable : 4251 4275)
#endif

/// The types a host shares with the library: addresses and roster entries, the host's callbacks, and the
/// log handler.
namespace NetControlNS {

/// A network address, and also one entry of the master's slave roster (MultiNetControl::getSlavesPlayer()).
///
/// A roster entry stands for one slave endpoint and one layer: a slave that serves two layers has two
/// entries. The flags are set by the slave's reports and read by the `isAllSlave…` queries.
struct struAddress
{
    std::string ip;               ///< IPv4 address as dotted text.
    int processId = -1;           ///< Process id of the player that sent from this address.
    int port = 0;                 ///< UDP port: for a roster entry, the port of the slave's unicast endpoint.
    int layerId = -1;             ///< Layer a roster entry stands for; -1 = none.
    bool isPrepared = false;      ///< Roster: the slave reported prepared for this layer.
    bool isClockSynced = false;   ///< Roster: the slave reported its clock synchronised.
    bool isComplete = false;      ///< Roster: the slave reported complete for this layer.
    bool isReserved = false;      ///< Never set by the library.
    qint64 lastOnlineTime = -1;   ///< Roster: host-clock time (us) of the last heartbeat; -1 = none yet.
    int addrType = 3;             ///< Not interpreted; the library's own addresses carry 1.
};

/// The host's side of the library: a slave's commands arrive here, and both roles read the host clock here.
///
/// The host fills the members it needs and passes a pointer to the object to the MultiNetControl
/// constructor, which keeps the pointer: the object must outlive the MultiNetControl. Every member may be
/// left empty; an empty member is simply not called.
///
/// Command callbacks (startCbk to seekCbk) are called on a slave for each command of its master, with
/// the command's layer id (-1 when the master gave none) and values, in the order of the master's
/// operation, and with the user data that the master attached: `userData` points into the received
/// datagram, is valid only during the call, and is null (with `userDataLen` 0) when the master attached
/// none. The values pass through unchanged; their meaning is the host's.
///
/// Threads: startCbk to clockOffsetCbk run on the object's worker thread, one at a time, in the order the
/// datagrams arrived. masterLostCbk runs on the object's timer thread. getClockTimeCbk is called from
/// the worker, the timer thread, the receive path on the constructing thread, and the
/// host's own threads inside the object's operations, often at once: it must be thread-safe.
///
/// Callbacks should return quickly: received commands and clock answers wait for the worker while one
/// runs. A slow host does not make a live master look lost (its heartbeat answers are noted as they
/// arrive, on the receiving thread), and the clock samples keep the times of their arrival, but the
/// offset reaches clockOffsetCbk only when the worker gets to it.
/// getClockTimeCbk is never called while the library holds one of its locks, so it may take a lock of
/// the host's own, also one that the host holds while it calls the object's operations.
class slaveControlCbk
{
public:
    /// Start: the two doubles of MultiNetControl::notifySlaveStart(), in order. Worker thread.
    std::function<void(int layerId, double, double, char* userData, int userDataLen)> startCbk;
    /// Speed: the speed of MultiNetControl::notifySlaveSpeed(). Worker thread.
    std::function<void(int layerId, double speed, char* userData, int userDataLen)> speedCbk;
    /// Step (MultiNetControl::notifySlaveStep()). Worker thread.
    std::function<void(int layerId, char* userData, int userDataLen)> stepCbk;
    /// Step back (MultiNetControl::notifySlaveStepBack()). Worker thread.
    std::function<void(int layerId, char* userData, int userDataLen)> stepBackCbk;
    /// Pause: the double of MultiNetControl::notifySlavePause(). Worker thread.
    std::function<void(int layerId, double, char* userData, int userDataLen)> pauseCbk;
    /// Prepare (MultiNetControl::notifySlavePrepareAsync()); the layer id is not passed. Worker thread.
    std::function<void(char* userData, int userDataLen)> prepareCbk;
    /// Stop: the double of MultiNetControl::notifySlaveStop(). Worker thread.
    std::function<void(int layerId, double, char* userData, int userDataLen)> stopCbk;
    /// Seek: the position, flag and value of MultiNetControl::notifySlaveSeek(). Worker thread.
    std::function<void(int layerId, qint64 position, bool, double, char* userData, int userDataLen)> seekCbk;
    /// Asked when the master searches for its slaves: one partner report is sent per layer id, and the
    /// master's roster gets one entry per layer. Without it the slave stays out of the roster. Worker thread.
    std::function<std::vector<int>()> getLayerIdsCbk;
    /// Mean clock offset, slave minus master, in seconds, over the last ten accepted clock samples; called
    /// after each accepted sample. Worker thread.
    std::function<void(double seconds)> clockOffsetCbk;
    /// The host clock in microseconds; every time in the library is read from it (0 without it).
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
    /// Called once in the object's life, with true, when the master's heartbeat answers have stopped for
    /// 50 s on the host clock; never again, even if the master comes back. Heartbeat thread.
    /// The one callback that may destroy the MultiNetControl object (the timer thread then leaves
    /// without touching it again); see the class's note on threads.
    std::function<void(bool)> masterLostCbk;
};

/// A slave's estimate of its master's host clock as a straight line over its own host clock
/// (MultiNetControl::getClockEstimate()).
///
/// The mean offset that slaveControlCbk::clockOffsetCbk receives is the mean of the last ten samples; on
/// clocks that run at different rates (tens of ppm between PCs) it lags the true offset by half the span
/// of those samples, 15 s once playback has started. This estimate follows the drift instead: a
/// least-squares line through the accepted clock samples of the last two minutes (at most the last 300), with
/// the samples far off the line (more than three robust standard deviations, and more than 10 us) left
/// out as outliers and the line fitted again.
///
/// Units: host-clock microseconds, as everywhere in the library; the offset is the slave's clock minus
/// the master's, as in clockOffsetCbk; the rate is in ppm (microseconds per second) of the slave's clock.
///
/// What to do with it: convert an instant of the master's clock to this host's clock with hostTimeAt(),
/// or this host's time to the master's with masterTimeAt(), whenever the conversion is needed rather
/// than once; a player that keeps a pipeline running on the master's time line steers its clock toward
/// masterTimeAt(now) gradually, by a rate, never by a jump (see the README's pattern).
struct struClockEstimate
{
    bool valid = false;         ///< False until the first accepted sample; every other field is then 0.
    /// True once six samples span at least 1 s. Before, the offset is the median of the
    /// samples and the rate 0.
    bool rateKnown = false;
    qint64 atHostUs = 0;        ///< Host time of the newest sample: the point the line is anchored at.
    double offsetUs = 0;        ///< Slave minus master at atHostUs, in microseconds.
    double ratePpm = 0;         ///< How fast the offset grows: positive when the slave's clock runs fast.
    int samples = 0;            ///< Samples the line is fitted through.
    int rejected = 0;           ///< Samples of the window left out as outliers.
    qint64 spanUs = 0;          ///< Host time from the oldest sample of the window to the newest.
    double residualUs = 0;      ///< Root mean square distance of the fitted samples from the line.

    /// Slave minus master at host time `hostUs` (microseconds).
    double offsetAtUs(qint64 hostUs) const { return offsetUs + ratePpm * 1e-6 * double(hostUs - atHostUs); }
    /// The master's clock when this host's clock reads `hostUs`.
    double masterTimeAt(qint64 hostUs) const { return double(hostUs) - offsetAtUs(hostUs); }
    /// This host's clock when the master's clock reads `masterUs`.
    double hostTimeAt(double masterUs) const
    {
        // master = host - offset - rate * (host - at), solved for host.
        const double rate = ratePpm * 1e-6;
        return (masterUs + offsetUs - rate * double(atHostUs)) / (1.0 - rate);
    }
};

/// The opt-ins of a control object, for MultiNetControl::setOptions(). Each switches one behaviour and
/// is off by default; with every one off the object behaves, and puts on the wire, what the plain protocol
/// says.
enum Option : unsigned
{
    /// Both roles: commands and reports are acknowledged and repeated until they are (see
    /// MultiNetControl::setAcknowledgedDelivery()). Switch it on at the master and at every slave.
    AcknowledgedDelivery = 1u << 0,
    /// Master: a roster entry that went silent comes back on line with its next heartbeat, and a line says
    /// so (plainly an entry silent for 4.5 s stays off line until the next findSlavePlayer()).
    SlaveBackOnLine = 1u << 1,
    /// Slave: a search or a start of clock synchronisation from the master's IP with another process id or
    /// port (the master's program started again) makes that the master's address; the clock estimate starts
    /// afresh and clock readiness is reported again. A start of clock synchronisation while it already
    /// runs only sets the request interval back to 100 ms.
    FollowRestartedMaster = 1u << 2,
    /// Slave: masterLostCbk counts the silence of a master that never answered from the first heartbeat
    /// (plainly from the host clock's zero).
    MasterSilenceFromFirstHeartbeat = 1u << 3,
    /// Master: a restarted slave of an admitted PC takes its silent earlier process's place (see
    /// MultiNetControl::setAdmitRestartedSlaves()).
    AdmitRestartedSlaves = 1u << 4,
    /// Slave: sends its health (clock estimate, last command, repeats dropped, presentation, a text) to its
    /// master once a second, in a datagram of its own (code 208). Master: keeps the latest per roster entry
    /// (MultiNetControl::getSlavesHealth()). Either end without it ignores the other's.
    HealthReports = 1u << 5,
};

/// What a master's host is told of its slaves (MultiNetControl::setSlaveEventHandler()). A slave is one
/// process ("ip_processId"), whatever the number of its roster entries.
enum class SlaveEvent
{
    Joined,       ///< The slave got its first roster entry (a search found it, or it joined later).
    WentOffLine,  ///< Its last heartbeat is more than MultiNetControl::kSlaveOfflineAfterUs old.
    CameBack,     ///< A heartbeat of a slave that was off line.
    HealthChanged,  ///< A health report whose figures differ from the slave's last one (HealthReports).
};

/// A master's host's receiver of slave events: the event, and the slave's roster entry as it is then
/// (its first entry, for a slave of several layers).
using SlaveEventHandler = std::function<void(SlaveEvent event, const struAddress& slave)>;

/// The reports that the master's readiness queries look at (MultiNetControl::getSlavesNotReady()).
enum class Readiness
{
    Prepared,     ///< reportPrepared() for the layer
    ClockSynced,  ///< the first clock sample taken
    Complete,     ///< reportComplete() for the layer
};

/// How a slave's frames met their instants, as its host measures them (MultiNetControl::setPresentation()):
/// each frame's lateness is the time it was shown minus the instant it was due, in microseconds (negative:
/// early), over the host's own recent window (the reference player takes the last 10 s).
struct struPresentation
{
    qint64 lateP50Us = 0;      ///< Median lateness.
    qint64 lateP99Us = 0;      ///< 99th percentile of the lateness.
    quint32 framesShown = 0;   ///< Frames shown since the host started counting.
    quint32 framesDropped = 0; ///< Frames dropped (too late to show) since then.
};

/// A slave's health as its master last heard it (MultiNetControl::getSlavesHealth()): the slave's own
/// figures, sent at most once a second under the option HealthReports.
struct struSlaveHealth
{
    struAddress slave;            ///< The roster entry.
    bool known = false;           ///< False until a report arrived: every figure below is then unknown.
    qint64 receivedAtUs = -1;     ///< The master's host time of the last report.
    bool clockValid = false;      ///< The slave has an estimate of the master's clock.
    bool rateKnown = false;       ///< The estimate has a rate (struClockEstimate::rateKnown).
    double offsetUs = 0;          ///< The slave's clock minus the master's, from its estimate.
    double ratePpm = 0;           ///< How fast that offset grows.
    double uncertaintyUs = 0;     ///< The estimate's residual: how far the samples lie from its line.
    int lastCommandCode = -1;     ///< The last command it applied (its message code); -1 none yet.
    int lastCommandSeq = -1;      ///< That command's sequence number.
    quint32 repeatsDropped = 0;   ///< Copies of commands it dropped as repeats (acknowledged delivery).
    bool presentationKnown = false;  ///< Its host handed in presentation figures.
    struPresentation presentation;   ///< Those figures.
    std::string text;             ///< A short text of its host's (a screen's name, the decoder in use).
    /// What the slave said it supports in its partner report (NetControlNS::Option values among
    /// AcknowledgedDelivery and HealthReports); 0 from a slave that says nothing (an older one, or one with
    /// no opt-in on). Known whether or not health is reported.
    unsigned options = 0;
    bool keyed = false;           ///< The slave said it is in a keyed group.
};

/// One key of an authenticated group (MultiNetControl::setGroupKeys()).
struct struGroupKey
{
    int id = 0;          ///< 1 to 255: travels with each signed datagram, so that the receiver picks the key.
    std::string secret;  ///< Exactly 32 bytes, the same on every node of the group.
};

/// What a keyed object dropped at its door (MultiNetControl::getDropCounts()), since its construction.
struct struDropCounts
{
    quint64 unsignedDatagrams = 0;  ///< Without a signature, in a keyed group.
    quint64 unknownKey = 0;         ///< Signed with a key id this object does not hold.
    quint64 badSignature = 0;       ///< Whose signature does not verify (forged, altered, or from another port).
    quint64 replayed = 0;           ///< Copies of datagrams already taken, or recordings too old to take.
    quint64 signedWithoutKey = 0;   ///< Signed, while this object has no key.
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
/// thread, and each object's timer thread. It may be called on several threads at once, so
/// it must be thread-safe; it is called without any lock of the library held. It must not throw (a line
/// whose handler throws is printed on standard output instead) and must return quickly, like the callbacks.
/// A line being printed while the handler is replaced may still reach the previous one.
///
/// Which lines are limited: the lines of the host's own calls (configuration, sending, the roster queries,
/// one line per entry however long the roster) and the lines of well-formed datagrams from the peers a
/// node deals with (on a master its admitted slaves, on a slave its master's address) are printed at any
/// rate, every one. The lines that anybody on the network can provoke, and those of host mistakes, are
/// limited, so that a flood cannot fill a disk: malformed datagrams, datagrams for a node without a role,
/// commands from another address than the master's, reports from slaves that are not admitted, a full
/// queue, a host clock or callback that throws. When one kind of these lines (one format text) repeats,
/// only the first 10 of each second reach the handler or standard output; the rest are counted, and the
/// next line the library prints once that second is over is preceded by one summary line:
/// `logLine: N more lines like "<format>" were left out within one second (at most 10 alike are printed a
/// second)`.
///
/// @param handler the new handler, or nullptr for standard output.
/// @return the handler installed before (nullptr when lines went to standard output).
TAMO_MULTINETCONTROL_EXPORT LogHandler installLogHandler(LogHandler handler);

} // namespace NetControlNS

/// One received datagram with its sender, as queued for the worker thread. Internal to the library: the
/// task executor below takes it, and no host makes or reads one.
class ControlMessage;

/// @cond INTERNAL
namespace tamo::detail {
class TaskExecutePrivate;
class MultiNetControlPrivate;
} // namespace tamo::detail
/// @endcond

/// A queue and one worker thread that hands each posted message, in posting order, to handle_message.
/// The base of MultiNetControl, whose callbacks run on this worker thread.
class TAMO_MULTINETCONTROL_EXPORT TaskExecute
{
public:
    /// Most messages that may wait for the worker; a flood beyond it is dropped at the door (see postMessage()).
    static constexpr std::size_t kMaxQueuedMessages = 65536;
    /// Most datagram bytes that may wait for the worker.
    static constexpr std::size_t kMaxQueuedBytes = 64u * 1024u * 1024u;

    /// Starts the worker; throws std::system_error when the thread cannot be started.
    TaskExecute();
    /// Stops the worker (see stop()) if the derived class has not done so.
    virtual ~TaskExecute();

    TaskExecute(const TaskExecute&) = delete;             ///< Not copyable: it owns a thread.
    TaskExecute& operator=(const TaskExecute&) = delete;  ///< Not copyable: it owns a thread.

protected:
    /// Queues a copy of `msg` and wakes the worker. Any thread.
    /// @return true when queued; false, and the message is dropped, when the queue already holds
    ///         kMaxQueuedMessages messages or kMaxQueuedBytes bytes (a diagnostic line is printed at the
    ///         start and at the end of each such episode).
    bool postMessage(ControlMessage msg);
    /// Ends the worker and joins it. Throws std::system_error (resource_deadlock_would_occur) when called
    /// on the worker itself. Messages still queued are never handled.
    void stop();
    /// True on the worker thread, that is inside handle_message.
    bool onWorkerThread() const;

private:
    virtual void handle_message(ControlMessage msg) = 0;
    void takeMessage(ControlMessage& out);
    void run();

    std::unique_ptr<tamo::detail::TaskExecutePrivate> m_task;  // the queue and the worker thread
};

/// The control object: one per player instance, as master, as slave, or both.
///
/// The master finds and admits its slaves (setSlaves(), findSlavePlayer()), keeps a roster of them per
/// layer, starts their clock synchronisation (notifySlaveStartClockSync()) and broadcasts playback
/// commands (`notifySlave…`) to the group's port; each slave turns the commands into calls of its host's
/// NetControlNS::slaveControlCbk and reports with reportPrepared() and reportComplete(). Nothing is
/// acknowledged or repeated: true from a sending operation means the datagram was handed to the socket,
/// and the master learns the slaves' state only from their reports, through the roster queries.
///
/// Threads: construct the object on a thread that runs a Qt event loop (all reception happens there). The
/// host may call every other operation from any thread. Host callbacks run on the library's worker thread
/// (masterLostCbk on its timer thread) and must return quickly.
///
/// An object runs at most two threads of its own: the worker, and a timer thread that sends a slave's
/// clock-sync requests and heartbeats and the repeats of acknowledged delivery (started with the first of
/// them).
///
/// Destruction: on the constructing thread, or on any other thread while the constructing thread either
/// keeps running its event loop until the destructor returns (the sockets are closed there; a line every
/// 5 s says so while the destructor waits for it) or has ended. masterLostCbk may destroy the object; the
/// callbacks that run on the worker thread (startCbk to clockOffsetCbk, and getClockTimeCbk wherever it
/// runs) may not: that is reported in one line and ends the process.
///
/// User data: a playback command carries at most 4072 bytes of payload and user data together (4056 bytes
/// of user data for a start, 4064 for pause, stop and speed, 4048 for seek, 4072 for prepare, step and step
/// back). A command whose user data does not fit is refused: nothing is sent, a line says why, and the
/// operation returns false. A negative or zero length sends no user data; a null pointer with a positive
/// length sends that many zero bytes.
///
/// Gotchas:
/// - the `isAllSlave…` queries answer true on an empty roster: check getSlavesPlayer() first;
/// - clock synchronisation is started once per process, until the host resets m_haveStartClockSync;
/// - the host clock (NetControlNS::slaveControlCbk::getClockTimeCbk) must be monotonic and thread-safe;
/// - callbacks must return quickly;
/// - the user-data limits above;
/// - the operations print diagnostic lines (see NetControlNS::installLogHandler()).
class TAMO_MULTINETCONTROL_EXPORT MultiNetControl : public TaskExecute
{
public:
    /// Size of the send buffer: a datagram's 24-byte header, payload and user data must fit in it.
    static constexpr int kSendBufferSize = 4096;
    /// Most start-clock-sync commands whose requests and heartbeats run at once. Each start while clock
    /// sync runs adds a pair of them beside the earlier ones; at this bound a further start only
    /// sets the clock-sync interval back to 100 ms, and one line per run of ignored starts says so. A stop
    /// ends them all, and the next start begins anew.
    static constexpr int kMaxClockSyncGenerations = 3;
    /// Most roster entries (ports and layers) that one admitted slave ("ip_processId") may hold. Far above
    /// any real player's layer count; reports beyond it are ignored, with one line when the bound is reached.
    static constexpr int kMaxRosterEntriesPerSlave = 64;
    /// A roster entry whose last heartbeat is more than this old on the master's host clock (microseconds)
    /// is off line: isAllSlaveComplete() passes over it.
    static constexpr qint64 kSlaveOfflineAfterUs = 5000000;
    /// How long acknowledged delivery repeats a datagram that is not acknowledged (setAcknowledgedDelivery()).
    static constexpr int kRepeatForMs = 3000;
    /// Most partner reports of unadmitted senders that getUnadmittedPartners() keeps.
    static constexpr int kMaxUnadmittedPartners = 16;

    /// Starts the worker thread and opens the object's two UDP sockets on `localIp`: one bound to `port`,
    /// which receives the master's broadcast commands, and one on a port the system picks, which sends
    /// every datagram of the object and receives the answers to it. Each bind prints a line. The object
    /// has no role until setMasterFlag() or setSlaveFlag().
    ///
    /// Call it on a thread that runs a Qt event loop: the sockets are read there.
    /// @param cbk the host's callbacks; kept, not copied: it must outlive the object. May be null.
    /// @param groupId the group: only datagrams of the same group id are handled. Travels as its low 16
    ///        bits, so an id outside 0..65535 never matches anything received (a line warns of it).
    /// @param localIp this player's own IPv4 address, as dotted text. Whether the sockets could bind to
    ///        it tells isListening().
    /// @param port the group's UDP port, the same on every node of the group; above 65535 only its low
    ///        16 bits are used (a line warns of it).
    /// @throws std::system_error when the worker thread cannot be started.
    MultiNetControl(NetControlNS::slaveControlCbk* cbk, int groupId, std::string localIp, unsigned int port);
    /// Prints a line, stops clock sync, the worker and the timer thread (messages still queued are not handled)
    /// and closes the sockets. See the class's note on the threads that may destroy the object.
    ~MultiNetControl() override;

    /// Makes this object a master (or not); an object may be master and slave at once. Prints one line.
    void setMasterFlag(bool master);
    /// Makes this object a slave (or not). A slave handles only datagrams from its master's IP
    /// (setMasterIp()). Prints one line. On Linux an object that is not slave does not even receive its own
    /// broadcasts (the kernel drops them), so a master's commands cost its own process no wake-up; an object
    /// that is its own master receives them again once it is slave.
    void setSlaveFlag(bool slave);
    /// Slave: the master's IPv4 address as dotted text. A slave drops, with a warning line, every datagram
    /// whose source address is not exactly this text, so it accepts nothing before this is set. Prints one line.
    void setMasterIp(std::string masterIp);
    /// Changes the group id given to the constructor (see there). Prints one line.
    void setGroupId(int group_id);

    /// Master: the slaves it admits to its roster, each as "ip_processId" (the slave's IPv4 address and
    /// process id, for example "192.168.1.20_5164"). Replaces the earlier set; entries already in the
    /// roster stay until the next findSlavePlayer(). Prints one line.
    void setSlaves(QSet<QString> slaves);
    /// Master: empties the roster and broadcasts a search for slaves. Each slave of the group answers once
    /// per layer id its host reports (NetControlNS::slaveControlCbk::getLayerIdsCbk); the admitted ones
    /// (setSlaves()) then appear in getSlavesPlayer(), one entry per slave endpoint and layer, as their
    /// answers arrive.
    /// @return true when the search was sent; false on an object that is not master.
    bool findSlavePlayer();
    /// Master: a copy of the roster, in the order the slaves answered.
    std::vector<NetControlNS::struAddress> getSlavesPlayer();
    /// Master: whether every roster entry of `layerId` (-1: of every layer) has reported prepared.
    /// Prints one line per entry looked at.
    /// @return false at the first entry that has not; true otherwise, **also on an empty roster**.
    bool isAllSlavePrepared(int layerId);
    /// Master: whether every roster entry of `layerId` (-1: of every layer) that is on line has reported
    /// complete. An entry whose last heartbeat is more than 5 s old on the host clock counts as off line
    /// and is passed over (a line says so), and so does one that has sent none yet once the host clock
    /// reads more than 5 s; an entry that went silent for 4.5 s stays off line until the next
    /// findSlavePlayer(). Without a host clock no entry is off line. Prints one line per entry looked at.
    /// @return false at the first entry on line that has not; true otherwise, **also on an empty roster**
    ///         and when every entry is off line.
    bool isAllSlaveComplete(int layerId);
    /// Master: whether every roster entry, of any layer, has reported its clock synchronised (a slave does
    /// so after its first accepted clock sample). Prints one line per entry looked at.
    /// @return false at the first entry that has not; true otherwise, **also on an empty roster**.
    bool isAllSlaveClockSucced();
    /// Master: clears the complete flag of the roster entries of exactly `layerId`; -1 clears only the
    /// entries of layer -1, not every layer.
    void clearSlaveCompleteFlags(int layerId);

    /// Master: broadcasts a prepare command; slaves call their host's `prepareCbk` with the user data.
    /// User data over 2048 bytes prints a warning line, and is sent all the same when it fits.
    /// @return true when the command was sent; false on an object that is not master, or when the user
    ///         data does not fit (see the class's note on user data).
    bool notifySlavePrepareAsync(int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a start command with two values of the host's, passed to the slaves' `startCbk`
    /// in this order. Slows every slave's clock-sync requests, and this object's own if it is also slave,
    /// to one every 3 s.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveStart(double first, double second, int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a pause command; slaves call `pauseCbk` with `value`.
    /// @return as notifySlavePrepareAsync().
    bool notifySlavePause(double value, int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a stop command; slaves call `stopCbk` with `value`, and will report their clock
    /// synchronised again after their next clock sample.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveStop(double value, int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a seek command; slaves call `seekCbk` with `position`, `flag` and `value`.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveSeek(qint64 position, bool flag, int layerId, double value, char* userData, int userDataLen);
    /// Master: broadcasts a speed command; slaves call `speedCbk` with `speed`.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveSpeed(double speed, int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a step command; slaves call `stepCbk`.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveStep(int layerId, char* userData, int userDataLen);
    /// Master: broadcasts a step-back command; slaves call `stepBackCbk`.
    /// @return as notifySlavePrepareAsync().
    bool notifySlaveStepBack(int layerId, char* userData, int userDataLen);
    /// Master: broadcasts the start of clock synchronisation. Each slave learns the master's address
    /// from it, then sends clock-sync requests (every 100 ms, every 3 s once playback has started) and
    /// heartbeats (every 2 s) until a stop. Sent **once per process**: it sets m_haveStartClockSync, which
    /// every object of the process reads, and nothing in the library clears it.
    /// @return true when sent; false on an object that is not master, or while m_haveStartClockSync is
    ///         true (nothing is sent).
    bool notifySlaveStartClockSync();
    /// Master: broadcasts the end of clock synchronisation; the slaves' clock-sync requests and heartbeats
    /// end. Does not clear m_haveStartClockSync.
    /// @return true when sent; false on an object that is not master.
    bool notifySlaveStopClockSync();

    /// Slave: reports to the master that `layerId` is prepared. Sent to the master's address that the
    /// slave learnt from the master's first search or start of clock synchronisation; before that it
    /// reaches nobody. The master matches it to the roster entry of this endpoint and layer.
    /// @return true when sent; false on an object that is not slave.
    bool reportPrepared(int layerId);
    /// Slave: reports to the master that `layerId` is complete; as reportPrepared().
    /// @return true when sent; false on an object that is not slave.
    bool reportComplete(int layerId);

    /// @name Riding out loss, outages and restarts
    /// Additions to the classic behaviour, each off until the host switches it on; with all of them off the
    /// object behaves, and puts on the wire, exactly what it did before.
    /// @{

    /// Both roles: acknowledged delivery, for networks that lose datagrams. Switch it on at the master and
    /// at every slave (a node without it ignores the acknowledgements as unknown codes).
    /// - A master repeats each command of the library (prepare, start, pause, stop, seek, speed, step, step
    ///   back, start and stop of clock synchronisation), byte for byte and with its sequence number, to each
    ///   roster endpoint that has not acknowledged it with code 207: 20, 40, 80, 160 and 320 ms after the
    ///   send, then every 500 ms, for at most kRepeatForMs. A line names the endpoints that never did.
    /// - A slave acknowledges each such command from its master (code 207, payload: the command's sequence
    ///   number and code, two little-endian uint16), also a repeat; a repeat of a command it has handled is
    ///   not handled again, and prints nothing (it is known by the sender's address, process id, code and
    ///   sequence number for 10 s).
    /// - A slave repeats its reports (prepared, complete, clock synchronised) to its master the same way
    ///   until the master acknowledges them with code 313; the master acknowledges each, also a repeat, and
    ///   handles a repeat once.
    /// Cost: a datagram of 28 bytes per command and slave, and one repeat (the command's size) per loss.
    /// Prints one line.
    void setAcknowledgedDelivery(bool on);
    /// Both roles: recovery from restarts and outages.
    /// - Master: a roster entry that went silent comes back on line with its next heartbeat (classically an
    ///   entry silent for 4.5 s stays off line until the next findSlavePlayer()), and a line says so.
    /// - Slave: a search or a start of clock synchronisation from the master's IP with another process id
    ///   or port (the master's program started again) makes that the master's address: reports, clock
    ///   requests and heartbeats go there from then on, the clock estimate starts afresh and the clock-ready
    ///   report is sent again after the next sample. A line says so. A start of clock synchronisation while
    ///   it already runs starts no further requests or heartbeats; it only sets the interval back to 100 ms.
    ///   masterLostCbk counts the silence of a master that never answered a heartbeat from the first
    ///   heartbeat (classically from the host clock's zero, which reports a master lost 2 s after the start
    ///   whenever its first answer is lost or late).
    /// The three are the options SlaveBackOnLine, FollowRestartedMaster and MasterSilenceFromFirstHeartbeat
    /// (setOptions() sets them one by one). Prints one line.
    void setRecovery(bool on);
    /// Master: admits a slave whose program started again on an admitted PC (same IP, new process id). A
    /// partner report under a key that is not admitted takes the place of an admitted key of the same IP
    /// whose roster entries all had heartbeats and then went silent for more than kSlaveOfflineAfterUs:
    /// the new key replaces the old one in the admitted set (getAdmittedSlaves()), the old entries leave
    /// the roster, and a line says so. One old key per new process, so that two players of one PC that
    /// both start again each take one place; a key without roster entries, or with an entry that never
    /// sent a heartbeat, is never replaced. Needs a host clock.
    /// Security: any program on an admitted PC, or any host that can forge that PC's address while its
    /// player is silent, can take the place of its player (see SECURITY.md). Prints one line.
    void setAdmitRestartedSlaves(bool admit);
    /// Master: a search like findSlavePlayer() that keeps the roster: entries stay with their flags and
    /// times, and slaves that answer anew (one that started again, one that joins) are added. Only on an
    /// object that is master; true when the search was sent.
    bool refreshSlavePlayers();
    /// Master: the admitted set, as setSlaves() gave it and setAdmitRestartedSlaves() changed it.
    QSet<QString> getAdmittedSlaves();
    /// Master: the latest partner reports whose sender is not admitted (at most 16, one per "ip_pid" key,
    /// the newest last): ip, port, processId and layerId of the report, lastOnlineTime the host time of its
    /// arrival. A host can show them to an operator, or admit them with setSlaves().
    std::vector<NetControlNS::struAddress> getUnadmittedPartners();
    /// Sets every opt-in at once: a combination of NetControlNS::Option values (0 switches all off).
    /// Prints one line. The setters above set their own options and leave the others.
    void setOptions(unsigned options);
    /// The opt-ins in force, as NetControlNS::Option values.
    unsigned options() const;
    /// @}

    /// @name Events and queries for a master's host
    /// @{

    /// Master: `handler` is called when a slave joins the roster, goes off line or comes back, so that a
    /// host needs no polling of getSlavesPlayer(). Joined and CameBack are told on the worker thread as
    /// the partner report or heartbeat is handled; WentOffLine on the timer thread, within 100 ms of the
    /// slave's last heartbeat turning kSlaveOfflineAfterUs old (needs a host clock). One event at a time, in
    /// the order they happened; the handler must return quickly and must not destroy the object. An empty
    /// handler stops the events. Prints one line.
    void setSlaveEventHandler(NetControlNS::SlaveEventHandler handler);
    /// Master: the roster entries of `layerId` (-1: of every layer; ignored for ClockSynced) that have not
    /// reported `what`, in roster order; empty when all have. Prints nothing.
    std::vector<NetControlNS::struAddress> getSlavesNotReady(NetControlNS::Readiness what, int layerId);
    /// Master: the health of each roster entry, in roster order, as the slave last reported it under the
    /// option HealthReports; `known` is false for a slave that has not reported (an older one, or one
    /// without the option). Prints nothing.
    std::vector<NetControlNS::struSlaveHealth> getSlavesHealth();
    /// @}

    /// @name An authenticated group
    /// @{

    /// Both roles: keys of the group. With keys, every datagram this object sends is signed with the
    /// first (HMAC-SHA256 cut to 16 bytes, a key id and a counter after the user data; PROTOCOL.md), and
    /// every datagram it receives must be signed with one of them: an unsigned one, one signed with another
    /// key, one whose signature does not verify and a replayed one are dropped and counted
    /// (getDropCounts()), with one line for the first of each kind from each sender. Two keys are
    /// accepted at once, so that a group changes its key during a show: give every node both, the new one
    /// second, then the new one alone (or first). Replays: each sender's counter follows its wall clock and
    /// never repeats; a receiver takes from each sender (address, port and process) only counters it has
    /// not seen, and from a sender it does not know yet only counters within kSignatureWindowUs of its own
    /// wall clock, so the wall clocks of a keyed group's PCs must agree within that. Under the option
    /// AdmitRestartedSlaves a restarted slave of an admitted PC proves itself with its signature and is
    /// taken in at once. An empty list makes the object unkeyed again; an unkeyed object drops signed
    /// datagrams. The keys are never printed.
    /// @return false, changing nothing, when a key id lies outside 1 to 255, a secret is not 32 bytes,
    ///         two keys share an id or more than two are given (a line says which).
    bool setGroupKeys(const std::vector<NetControlNS::struGroupKey>& keys);
    /// What the object dropped at its door because of keys.
    NetControlNS::struDropCounts getDropCounts() const;
    /// How far a new sender's counter may lie from this PC's wall clock, in microseconds.
    static constexpr qint64 kSignatureWindowUs = 120000000;
    /// @}

    /// @name What a slave tells its master of its health (option HealthReports)
    /// @{

    /// Slave: how its last frames met their instants, sent with its next health report. Any thread.
    void setPresentation(const NetControlNS::struPresentation& presentation);
    /// Slave: a short text sent with its health reports (at most 64 bytes of UTF-8; longer is cut at a
    /// character's boundary), for example the screen's name and the decoder in use. Any thread.
    void setHealthText(const std::string& text);
    /// @}

    /// Whether both sockets are bound to the IP text and port given to the constructor. False when the text
    /// is not a dotted IPv4 address, the machine has no such address or the port is taken; the object then
    /// receives nothing there, and its operations still return as usual: a host should check this after
    /// construction and refuse to go on. Safe from any thread.
    bool isListening() const;
    /// The port of the socket that sends every datagram of the object and receives the answers to them
    /// (the system picks it at construction); 0 when that socket is not bound. A firewall on the player
    /// lets the group's players reach it, besides the group's port. Safe from any thread.
    quint16 unicastPort() const;
    /// Why isListening() is false: the address, the port and the system's reason, one text per socket
    /// that failed (for example "192.0.2.1 port 47000: The address is not available"); empty while it is true.
    std::string errorString() const;

    /// Slave: the estimate of the master's clock from the clock samples accepted so far (see
    /// NetControlNS::struClockEstimate). It changes after each accepted sample, on the worker thread, just
    /// before clockOffsetCbk is called; a host may ask at any time from any thread (it takes a lock for a
    /// copy, never calls the host). `valid` is false before the first sample.
    NetControlNS::struClockEstimate getClockEstimate() const;

    /// True once any object of this process has sent the start of clock synchronisation
    /// (notifySlaveStartClockSync()); false when the library is loaded. The library never clears it: the
    /// host may set it back to false to allow another start.
    static std::atomic<bool> m_haveStartClockSync;

protected:
    /// The object's state, opaque to hosts: it lives in the library, so that the object's size and layout
    /// stay the same when the library grows.
    std::unique_ptr<tamo::detail::MultiNetControlPrivate> m_impl;

private:
    void handle_message(ControlMessage msg) override;
};

#ifdef _MSC_VER
#pragma warning(pop)
#endif
