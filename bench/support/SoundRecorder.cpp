// SPDX-License-Identifier: MIT
#include "support/SoundRecorder.h"

#include "support/BenchClock.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The recorder's fragment, which also becomes the null sink's latency (the smallest any client asks
// for): the sink renders that far ahead, a fragment at a time, and its monitor hands each fragment on as
// soon as it is rendered (see RecordingClock).
constexpr int kLatencyMs = 2;
constexpr int kPipeWireLatencyMs = 25;
constexpr std::size_t kReadBytes = 4096;

} // namespace

std::vector<std::string> SoundRecorder::parec(const QString& pulseServer, const QString& source, int rate, int channels)
{
    std::string channelMap = "--channel-map=";
    for (int channel = 0; channel < channels; ++channel)
        channelMap += (channel ? ",aux" : "aux") + std::to_string(channel);
    return {"parec",
            "--server=" + pulseServer.toStdString(),
            "--device=" + source.toStdString(),
            "--rate=" + std::to_string(rate),
            "--channels=" + std::to_string(channels),
            channelMap,
            "--latency-msec=" + std::to_string(kLatencyMs),
            "--raw",
            "--format=s16le"};
}

std::vector<std::string> SoundRecorder::pwRecord(const QString& runtimeDir, const QString& node, int rate)
{
    // Through env, for the recorder alone reaches that PipeWire. To standard output ("-") it writes raw.
    // Its latency joins the player's in setting the graph's cycle (the largest power of two of frames
    // within the smallest latency asked): at 2 ms three PipeWires woke some 2000 times a second between
    // them on two cores, and a tick now and then came a cycle or a stall off. At 25 ms, the player's own
    // period, the cycle is PipeWire's default of 1024 frames. (The placement moves with it: see
    // PipeWirePerPlayer.)
    return {"env",
            "PIPEWIRE_RUNTIME_DIR=" + runtimeDir.toStdString(),
            "pw-record",
            "--target=" + node.toStdString(),
            "--rate=" + std::to_string(rate),
            "--channels=1",
            "--format=s16",
            "--latency=" + std::to_string(kPipeWireLatencyMs) + "ms",
            "-"};
}

SoundRecorder::SoundRecorder(const std::vector<std::string>& command, int rate, int channels)
{
    m_recording.rate = rate;
    m_recording.channels = channels;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error(std::string("no pipe for the recorder: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&m_pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        m_pid = -1;
        throw std::runtime_error("cannot start " + command.front() + ": " + std::strerror(spawned));
    }
    m_reader = std::thread([this, fd = pipeFds[0]] { readUntilEnd(fd); });
}

SoundRecorder::~SoundRecorder()
{
    if (m_pid > 0)
        stop();
}

Recording SoundRecorder::stop()
{
    kill(m_pid, SIGTERM);
    m_reader.join();
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    return std::move(m_recording);
}

void SoundRecorder::readUntilEnd(int fd)
{
    const std::size_t frameBytes = 2 * std::size_t(m_recording.channels);
    std::vector<char> bytes;
    char block[kReadBytes];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        const std::int64_t now = monotonicNs();
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), block, block + got);
        m_recording.blocks.push_back({now, std::int64_t(bytes.size() / frameBytes)});
    }
    close(fd);
    // A recorder writes whole frames unless it is stopped mid-frame.
    m_recording.samples.resize(bytes.size() / frameBytes * std::size_t(m_recording.channels));
    std::memcpy(m_recording.samples.data(), bytes.data(), m_recording.samples.size() * sizeof(std::int16_t));
}

double longestGapMs(const Recording& recording)
{
    std::int64_t longest = 0;
    for (std::size_t i = 1; i < recording.blocks.size(); ++i)
        longest = std::max(longest, recording.blocks[i].arrivedNs - recording.blocks[i - 1].arrivedNs);
    return double(longest) / 1e6;
}
