// SPDX-License-Identifier: MIT
#include "FrameLog.h"

#include <QFile>
#include <QTextStream>

#include <chrono>

#ifdef __linux__
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

constexpr int kFlushEveryMs = 1000;

const char kHeader[] = "# kind key mono-ns (key: play * 10^13 + time stamp in ns; r = rendered while playing, "
                       "h = shown and held on a pause or step)\n";

void writeFrames(QTextStream& out, const std::vector<ShownFrame>& frames)
{
    for (const ShownFrame& frame : frames)
        out << char(frame.kind) << ' ' << frame.key << ' ' << frame.monoNs << '\n';
}

} // namespace

void FrameLog::record(ShownFrame::Kind kind, qint64 key, qint64 monoNs, qint64 handedNs)
{
    const ShownFrame frame{kind, key, monoNs, handedNs};
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_count;
    m_frames.push_back(frame);
    if (m_tapping && m_tapped.size() < kMaxTapped)
        m_tapped.push_back(frame);
}

void FrameLog::startTap()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tapping = true;
}

std::vector<ShownFrame> FrameLog::takeTapped()
{
    std::vector<ShownFrame> taken;
    std::lock_guard<std::mutex> lock(m_mutex);
    taken.swap(m_tapped);
    return taken;
}

qint64 FrameLog::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

bool FrameLog::streamTo(const QString& path, QString& error, std::function<void(const QString&)> onError)
{
    std::unique_ptr<QFile> file;
    if (!path.isEmpty()) {
        file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) || file->write(kHeader) < 0) {
            error = QStringLiteral("cannot write %1: %2").arg(path, file->errorString());
            return false;
        }
    }
    m_file = std::move(file);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_streaming = true;
    }
    m_flushTimer = std::make_unique<QTimer>();
    m_flushTimer->setInterval(kFlushEveryMs);
    QObject::connect(m_flushTimer.get(), &QTimer::timeout, [this, onError = std::move(onError)] {
        QString flushError;
        if (!flush(flushError) && onError)
            onError(flushError);
    });
    m_flushTimer->start();
    return true;
}

bool FrameLog::flush(QString& error)
{
    std::vector<ShownFrame> since;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_streaming)
            return true;
        since.swap(m_frames);
    }
    if (!m_file)
        return true;
    QTextStream out(m_file.get());
    writeFrames(out, since);
    out.flush();
    if (m_file->error() != QFileDevice::NoError || !m_file->flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), m_file->errorString());
        return false;
    }
    return true;
}

std::vector<ShownFrame> FrameLog::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<ShownFrame> FrameLog::read(const QString& path, QString& error, int* badLines)
{
    std::vector<ShownFrame> frames;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return frames;
    }
    int bad = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> words = line.split(' ');
        bool ptsOk = false;
        bool monoOk = false;
        const qint64 pts = words.value(1).toLongLong(&ptsOk);
        const qint64 mono = words.value(2).toLongLong(&monoOk);
        const QByteArray kind = words.value(0);
        if (words.size() != 3 || !ptsOk || !monoOk || (kind != "r" && kind != "h")) {
            ++bad;
            continue;
        }
        frames.push_back(ShownFrame{kind == "r" ? ShownFrame::Rendered : ShownFrame::Held, pts, mono});
    }
    if (badLines)
        *badLines = bad;
    return frames;
}

qint64 FrameLog::monotonicNs()
{
#ifdef __linux__
    // Straight from the kernel, past any library that warps this process's clocks (a whole-process drift
    // simulated from outside): the frames' times stay the truth that every player of the machine shares.
    timespec now{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
#endif
}
