// SPDX-License-Identifier: MIT
// A UDP endpoint bound to one local IP text and port. It writes the host clock into clock-sync
// datagrams as they are sent and received, drops its own echoes and delivers every other datagram,
// with its sender, on the thread that called init (which must run a Qt event loop).
//
// Time stamps: a received clock-sync datagram gets the kernel's receipt time where the platform keeps it
// (Linux), carried over to the host clock; elsewhere, or when the kernel gives none, the host clock as
// the datagram is read. A sent one gets the host clock carried to the instant before the system call. The
// host clock is never read while the endpoint holds its lock (see ClockCarry.h for how times are carried).
#pragma once

#include "endpoint/ClockCarry.h"
#include "endpoint/Keyring.h"
#include "endpoint/SendPathWarmUp.h"
#include "endpoint/SenderFilter.h"
#include "endpoint/SockBase.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QUdpSocket;

namespace tamo::detail {

class PreparedDestination;

class UdpClient : public SockBase
{
public:
    static constexpr int kRecvBufferSize = 1024 * 1024;

    explicit UdpClient(NetControlNS::struAddress localAddress);
    ~UdpClient() override;

    // Safe from any thread, also while another thread closes the endpoint.
    int sendData(char* data, int len, NetControlNS::struAddress dest, bool broadcast) override;
    // The host-clock reading for the send stamp of a datagram with `code`, taken before the sender takes any
    // lock; nothing for a code that carries no send stamp or without a host clock.
    std::optional<ClockPair> sendClockFor(std::uint16_t code) const;
    // Sends as sendData does, to a destination resolved beforehand; a clock-sync datagram is stamped with
    // `sendClock` carried to the instant before the system call. Safe from any thread.
    int sendPrepared(char* data, int len, const PreparedDestination& to, const std::optional<ClockPair>& sendClock);
    // Binds, prints the bind line and, when the bind fails, a line with the address, port and reason.
    // Returns true, also when the bind failed (see isBound); such an endpoint receives and sends nothing.
    bool init(NetControlNS::slaveControlCbk* callbacks) override;
    // Call on the thread that called init.
    void close() override;
    bool setRecvCallback(RecvCallback cb) override;

    // Reads and delivers the waiting datagrams, at most a batch of them: the rest come on the next readyRead.
    void readPendingDatagrams(QUdpSocket* socket);
    // What readPendingDatagrams does to each datagram it reads, in this order; public so that the fuzz
    // target can run the whole receive path without a socket.
    // `receiptNs`: the kernel's receipt time on the system clock of KernelReceiptTime.h, when known.
    void stampOnReceipt(char* data, int len, std::optional<std::int64_t> receiptNs = std::nullopt) const;
    void deliverDatagram(const char* data, int len, NetControlNS::struAddress from);
    qint64 currentHostTime() const;

    // Drops, in the kernel, the datagrams of the sender that `sender` names when called (nothing: drops none),
    // on every socket of the endpoint. `sender` is called with the endpoint's lock held, so that of two
    // threads refreshing at once the later one's answer stays. Safe from any thread; false where the
    // platform has no socket filters (every datagram is then delivered as before).
    bool refreshSenderFilter(const std::function<std::optional<DroppedSender>()>& sender);

    // The door every datagram passes, signed on the way out and verified on the way in; null: none. Set
    // once, before any datagram is sent or received; not owned.
    void setKeyring(Keyring* keyring) { m_keyring = keyring; }

    // The port the socket is bound to (0 before init, after close or when the bind failed).
    quint16 boundPort() const;
    // Whether init bound the socket to the wanted address and port, and the reason when it did not. Written
    // by init, read-only afterwards.
    bool isBound() const { return m_bound; }
    const std::string& bindError() const { return m_bindError; }

private:
    struct FreeDeleter
    {
        void operator()(char* p) const { std::free(p); }
    };

    bool bindSocket(QUdpSocket& socket);
    void listenForLimitedBroadcasts();
    void connectReception(QUdpSocket& socket);
    std::optional<ClockPair> readHostClockPair(std::int64_t (*systemClock)()) const;
    int writeLocked(const char* data, int len, const PreparedDestination& to);

    std::atomic<bool> m_running{false};
    // Zero-filled 1 MiB; taken from calloc so that untouched pages cost no memory. Socket thread only.
    std::unique_ptr<char, FreeDeleter> m_recvBuffer;
    std::unique_ptr<QUdpSocket> m_socket;  // guarded by m_socketMutex: senders on any thread, close on the socket's thread
    // Bound to 255.255.255.255 at the same port, where the platform does not show limited broadcasts to a
    // socket bound to a unicast address. Guarded by m_socketMutex: made and closed on the socket's thread,
    // its filter set from any thread.
    std::unique_ptr<QUdpSocket> m_broadcastListener;
    NetControlNS::slaveControlCbk* m_callbacks = nullptr;  // not owned; read only for the host clock
    Keyring* m_keyring = nullptr;         // not owned; set before reception, then only read
    bool m_bound = false;                 // written by init, then read-only
    std::string m_bindError;              // written by init, then read-only
    SendPathWarmUp m_warmUp;              // prepared by init; then guarded by m_socketMutex
    mutable std::mutex m_socketMutex;
};

} // namespace tamo::detail
