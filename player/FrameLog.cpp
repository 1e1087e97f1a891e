// SPDX-License-Identifier: MIT
#include "FrameLog.h"

#include <QFile>
#include <QTextStream>

#include <chrono>

void FrameLog::record(ShownFrame::Kind kind, qint64 ptsNs, qint64 monoNs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.push_back(ShownFrame{kind, ptsNs, monoNs});
}

std::vector<ShownFrame> FrameLog::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

bool FrameLog::write(const QString& path, QString& error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream out(&file);
    out << "# kind pts-ns mono-ns (r = rendered while playing, h = shown and held on a pause or step)\n";
    for (const ShownFrame& frame : frames())
        out << char(frame.kind) << ' ' << frame.ptsNs << ' ' << frame.monoNs << '\n';
    out.flush();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
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
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}
