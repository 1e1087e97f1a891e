// SPDX-License-Identifier: MIT
// One pipeline on its own: a file it cannot play fails its open with one message that says why, and the
// same player then opens a good clip; the end of the stream reaches the handler on the main thread,
// whichever event loop Qt runs (the test also runs with QT_NO_GLIB=1).
#include "BusWatch.h"
#include "ClipMaker.h"
#include "EventLoopWait.h"
#include "MediaPlayer.h"
#include "PipelineClock.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {

constexpr qint64 kLeadNs = 100000000;
constexpr int kEndTimeoutMs = 10000;

// Opens `uri` on the monotonic clock.
bool openOn(MediaPlayer& player, const QString& uri, bool window, QString& error)
{
    GstClock* clock = PipelineClock::steerable();
    const bool opened = player.open(Programme({uri}, false), clock, window, QStringLiteral("test"), error);
    gst_object_unref(clock);
    return opened;
}

} // namespace

class tst_MediaPlayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_clipUri;

    QString uriOf(const QString& name) const { return QUrl::fromLocalFile(m_dir.filePath(name)).toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(ClipMaker::make(m_dir.filePath(QStringLiteral("clip.avi")), 0.5, 30, ClipMaker::kDefaultSize, error),
                 qPrintable(error));
        m_clipUri = uriOf(QStringLiteral("clip.avi"));
        QFile text(m_dir.filePath(QStringLiteral("notes.avi")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("These are notes, not a film.\n");
    }

    void openFailsWithItsReason_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "missing.avi" << false << "cannot go to PAUSED: Resource not found";
        QTest::newRow("undecodable file") << "notes.avi" << false << "failed to preroll: Could not determine type of stream";
        // A window sink without a display refuses the change at once.
        QTest::newRow("sink cannot start") << "clip.avi" << true << "cannot go to PAUSED: Could not initialise X output";
    }
    void openFailsWithItsReason()
    {
        QFETCH(QString, file);
        QFETCH(bool, window);
        QFETCH(QString, reason);
        if (window && !gst_element_factory_find("ximagesink"))
            QSKIP("no ximagesink here to refuse a missing display");
        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        FrameLog log;
        MediaPlayer player(log);
        bool ended = false;
        QStringList bareErrors;
        player.setHandlers([&ended] { ended = true; }, [&bareErrors](const QString& e) { bareErrors.append(e); });
        QString error;
        const bool opened = openOn(player, uriOf(file), window, error);
        qputenv("DISPLAY", display);
        QVERIFY2(!opened, "a file that cannot play opened");
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY(!player.isOpen());

        // The programme goes on: the same player plays a good clip to its end, and the failure has told
        // nothing more on the way.
        QVERIFY2(openOn(player, m_clipUri, false, error), qPrintable(error));
        QVERIFY2(player.playFrom(ProgrammePoint{}, 1.0, FrameLog::monotonicNs() + kLeadNs, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&ended] { return ended; }, kEndTimeoutMs), "no end of stream");
        QVERIFY2(bareErrors.isEmpty(), qPrintable(bareErrors.join(QLatin1Char('\n'))));
    }

    void endOfStreamReachesTheMainThread()
    {
        QVERIFY2(BusWatch::mainLoopIsGlib() == !qEnvironmentVariableIsSet("QT_NO_GLIB"),
                 "Qt's event loop on the main thread is GLib's unless QT_NO_GLIB is set");
        FrameLog log;
        MediaPlayer player(log);
        QThread* endedOn = nullptr;
        QStringList errors;
        player.setHandlers([&endedOn] { endedOn = QThread::currentThread(); },
                           [&errors](const QString& e) { errors.append(e); });
        QString error;
        QVERIFY2(openOn(player, m_clipUri, false, error), qPrintable(error));
        QVERIFY2(player.playFrom(ProgrammePoint{}, 1.0, FrameLog::monotonicNs() + kLeadNs, error), qPrintable(error));
        QVERIFY2(runEventLoopUntil([&] { return endedOn != nullptr; }, kEndTimeoutMs), "no end of stream");
        QCOMPARE(endedOn, QCoreApplication::instance()->thread());
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QVERIFY(player.halt());
        QVERIFY(!player.isOpen());
    }
};

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    tst_MediaPlayer test;
    const int status = QTest::qExec(&test, argc, argv);
    // GStreamer's own threads (its task pool) end here, not while the leak check suspends every thread.
    gst_deinit();
    return status;
}
#include "tst_mediaplayer.moc"
