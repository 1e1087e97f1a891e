// SPDX-License-Identifier: MIT
// libFuzzer target: arbitrary bytes from an arbitrary loopback sender through a node's receive path.
// See README.md ("Reliability checks") for how to run it.
#include "ReceivePathRig.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// A start-clock-sync command starts two threads on a slave; a fresh rig every so many inputs bounds them.
constexpr int kInputsPerRig = 256;

std::unique_ptr<ReceivePathRig> g_rig;
int g_inputsOnRig = 0;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The sockets of the control objects need the application object of the thread that makes them.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!g_rig || g_inputsOnRig == kInputsPerRig) {
        g_rig.reset();
        g_rig = std::make_unique<ReceivePathRig>();
        g_inputsOnRig = 0;
    }
    ++g_inputsOnRig;
    g_rig->run(data, size);
    return 0;
}
