// SPDX-License-Identifier: MIT
// A UDP endpoint bound to one local IP text and port. It writes the host clock into clock-sync
// datagrams as they are sent and received, drops its own echoes and delivers every other datagram,
// with its sender, on the thread that called init (which must run a Qt event loop).
#pragma once

#include "net/SockBase.h"

#include <QtGlobal>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

class QUdpSocket;

namespace tamo::detail {

class UdpClient : public SockBase
{
public:
    static constexpr int kRecvBufferSize = 1024 * 1024;

    explicit UdpClient(NetControlNS::struAddress localAddress);
    ~UdpClient() override;

    // Safe from any thread, also while another thread closes the endpoint.
    int sendData(char* data, int len, NetControlNS::struAddress dest, bool broadcast) override;
    bool init(NetControlNS::slaveControlCbk* callbacks) override;
    // Call on the thread that called init.
    void close() override;
    bool setRecvCallback(RecvCallback cb) override;

    void readPendingDatagrams(QUdpSocket* socket);
    // What readPendingDatagrams does to each datagram it reads, in this order; public so that the fuzz
    // target can run the whole receive path without a socket.
    void stampOnReceipt(char* data, int len) const;
    void deliverDatagram(const char* data, int len, NetControlNS::struAddress from);
    qint64 currentHostTime() const;

    // The port the socket is bound to (0 before init, after close or when the bind failed).
    quint16 boundPort() const;

private:
    struct FreeDeleter
    {
        void operator()(char* p) const { std::free(p); }
    };

    void listenForLimitedBroadcasts();
    void stampOnSend(char* data, int len) const;

    std::atomic<bool> m_running{false};
    // Zero-filled 1 MiB; taken from calloc so that untouched pages cost no memory. Socket thread only.
    std::unique_ptr<char, FreeDeleter> m_recvBuffer;
    std::unique_ptr<QUdpSocket> m_socket;  // guarded by m_socketMutex: senders on any thread, close on the socket's thread
    // Bound to 255.255.255.255 at the same port, where the platform does not show limited broadcasts to a
    // socket bound to a unicast address. Socket thread only.
    std::unique_ptr<QUdpSocket> m_broadcastListener;
    NetControlNS::slaveControlCbk* m_callbacks = nullptr;  // not owned; read only for the host clock
    mutable std::mutex m_socketMutex;
};

} // namespace tamo::detail
