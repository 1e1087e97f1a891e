// SPDX-License-Identifier: MIT
// Control objects in each role, with recording hosts, and an endpoint that delivers into their message
// handler on the calling thread: the receive path of a node without its socket and queue.
#pragma once

#include "MultiNetControl.h"
#include "common/RecordingHost.h"
#include "endpoint/UdpClient.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

class ReceivePathRig
{
public:
    static constexpr int kGroupId = 7;
    static constexpr std::uint32_t kAdmittedProcessId = 4242;
    static constexpr char kOwnIp[] = "127.0.0.1";
    static constexpr char kMasterIp[] = "127.0.0.2";   // the slaves' master, also admitted by the masters
    static constexpr char kSlaveIp[] = "127.0.0.3";    // admitted by the masters
    static constexpr int kPrefixSize = 2;
    // Bits of the role byte above the role (its two low bits): the options of the receiving object for
    // this input. Inputs with these bits clear run the object as it was before the options existed.
    static constexpr std::uint8_t kAcknowledgedDeliveryBit = 0x04;
    static constexpr std::uint8_t kRecoveryBit = 0x08;
    static constexpr std::uint8_t kHealthReportsBit = 0x10;
    static constexpr qint64 kEndpointClockUs = 5000000000;

    ReceivePathRig();
    ~ReceivePathRig();

    ReceivePathRig(const ReceivePathRig&) = delete;
    ReceivePathRig& operator=(const ReceivePathRig&) = delete;

    // Runs one fuzz input: byte 0 picks the receiving object's role (bits 0-1: slave, master, both, none)
    // and its options (kAcknowledgedDeliveryBit, kRecoveryBit, kHealthReportsBit), byte 1 the sender, the rest is the
    // datagram. Aborts when a property of the path does not hold.
    void run(const std::uint8_t* input, std::size_t size);

private:
    struct Node
    {
        std::unique_ptr<RecordingHost> host;
        std::unique_ptr<MultiNetControl> control;
        unsigned options = 0;  // as last set on control
    };

    // Sets the options that `roleByte` asks for on `node`, calling a setter only when its option changes.
    static void applyOptions(Node& node, std::uint8_t roleByte);

    void onDelivered(const char* bytes, int len, NetControlNS::struAddress from);

    std::array<Node, 4> m_nodes;  // slave, master, both roles, no role
    Node* m_receiver = nullptr;   // the node of the input being run
    // A host clock that stands still, so that the stamps the endpoint writes, and the clock arithmetic on
    // them, are the same at every run of an input.
    NetControlNS::slaveControlCbk m_endpointClock;
    std::unique_ptr<tamo::detail::UdpClient> m_endpoint;
};
