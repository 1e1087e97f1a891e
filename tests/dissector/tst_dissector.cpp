// SPDX-License-Identifier: MIT
// The Wireshark dissector against the library's own traffic: a master and a slave of this process talk
// over loopback while dumpcap records them; tshark with the dissector must then show every code that
// was sent, with the header and payload values that the session used. Under acknowledged delivery each
// acknowledgement must name a datagram of the capture, by its sequence number and code, and show a name.
// In a keyed group every datagram shows its key id, and a counter with which the MAC of its bytes checks.
#include "MultiNetControl.h"

#include "EventLoopWait.h"
#include "common/LogCapture.h"
#include "common/LoopbackGroup.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <set>

namespace {

const std::string kMasterIp = "127.0.0.61";
const std::string kSlaveIp = "127.0.0.62";

const QStringList kFields = {
    "ip.src", "udp.srcport", "ip.dst", "udp.length", "udp.payload", "tamo.magic", "tamo.pid", "tamo.code", "tamo.tag",
    "tamo.group", "tamo.layer", "tamo.seq", "tamo.datalen", "tamo.userdatalen", "tamo.direction", "tamo.start.first",
    "tamo.start.second", "tamo.value", "tamo.speed", "tamo.seek.position", "tamo.seek.flag", "tamo.seek.value",
    "tamo.clock.s0", "tamo.clock.s1", "tamo.clock.s2", "tamo.clock.s3", "tamo.ack.seq", "tamo.ack.code", "tamo.ack.name",
    "tamo.userdata", "tamo.health.version", "tamo.health.text", "tamo.signature.key_id", "tamo.signature.counter",
    "tamo.signature.mac"};

const NetControlNS::struGroupKey kGroupKey{42, std::string(32, 'k')};
constexpr int kSignatureSize = 1 + 8 + 16;

using Row = QMap<QString, QString>;

// dumpcap on the loopback interface, limited to the session's two addresses.
class LoopbackCapture
{
public:
    LoopbackCapture(const QString& file, const QString& filter) : m_file(file)
    {
        m_process.start(QStringLiteral("dumpcap"), {"-q", "-i", "lo", "-f", filter, "-w", file});
    }
    ~LoopbackCapture() { m_process.terminate(); m_process.waitForFinished(10000); }

    // Empty once dumpcap has opened the interface; its error text otherwise.
    QString waitUntilCapturing()
    {
        QByteArray error;
        const bool started = runEventLoopUntil([&] {
            error += m_process.readAllStandardError();
            return error.contains("File:") || m_process.state() == QProcess::NotRunning;
        }, 10000);
        m_headerSize = QFileInfo(m_file).size();
        return started && m_process.state() == QProcess::Running ? QString() : QString::fromLocal8Bit(error);
    }

    // Waits until dumpcap has written packets and then nothing more for a second: on a busy machine it
    // may not have read the session off the interface yet, and what it has not read when it stops is lost.
    void waitUntilWritten()
    {
        qint64 size = m_headerSize;
        QElapsedTimer steady;
        steady.start();
        runEventLoopUntil([&] {
            const qint64 now = QFileInfo(m_file).size();
            if (now != size) {
                size = now;
                steady.restart();
            }
            return size > m_headerSize && steady.elapsed() >= 1000;
        }, 20000);
    }

private:
    QString m_file;
    qint64 m_headerSize = 0;
    QProcess m_process;
};

QString hexOf(const char* text) { return QString::fromLatin1(QByteArray(text).toHex()); }

// The MAC of a signed datagram, as its receiver computes it: over the datagram up to the signature, the
// sender's port, the key id and the counter, all little-endian.
QString macOf(const Row& row)
{
    QByteArray bound = QByteArray::fromHex(row["udp.payload"].toLatin1());
    bound.chop(kSignatureSize);
    QDataStream out(&bound, QIODevice::Append);
    out.setByteOrder(QDataStream::LittleEndian);
    out << row["udp.srcport"].toUShort() << quint8(kGroupKey.id) << row["tamo.signature.counter"].toULongLong();
    const QByteArray mac = QMessageAuthenticationCode::hash(bound, QByteArray::fromStdString(kGroupKey.secret),
                                                            QCryptographicHash::Sha256);
    return QString::fromLatin1(mac.left(16).toHex());
}

// Runs a session that sends every code once at least.
void runSession(LoopbackGroup& group, LoopbackNode& slave)
{
    MultiNetControl& master = *group.master().control;
    const auto entry = [&master] { return master.getSlavesPlayer().at(0); };

    QVERIFY(group.discover());  // 300, 201
    MultiNetControl::m_haveStartClockSync = false;
    QVERIFY(master.notifySlaveStartClockSync());  // 308, then 202, 307, 203, 205, 206
    QVERIFY(runEventLoopUntil([&] {
        return entry().isClockSynced && entry().lastOnlineTime != -1 && !slave.host->clockOffsets().empty();
    }));

    char prepareData[] = "prep-ud", startData[] = "start-ud", stopData[] = "s";
    QVERIFY(master.notifySlavePrepareAsync(0, prepareData, 7) && slave.control->reportPrepared(0));
    QVERIFY(master.notifySlaveStart(1.5, 2.5, 3, startData, 8) && master.notifySlavePause(0.25, 4, nullptr, 0)
            && master.notifySlaveStop(7.75, 5, stopData, 1) && master.notifySlaveSeek(123456789012LL, true, 6, -2.5, nullptr, 0)
            && master.notifySlaveSpeed(1.5, 7, nullptr, 0) && master.notifySlaveStep(8, nullptr, 0)
            && master.notifySlaveStepBack(9, nullptr, 0));
    QVERIFY(runEventLoopUntil([&] { return slave.host->callCount() == 8 && entry().isPrepared; }));
    if (slave.control->options() & NetControlNS::HealthReports)  // 208, once a second
        QVERIFY(runEventLoopUntil([&] { return master.getSlavesHealth().at(0).lastCommandCode == 312; }, 3000));
    QVERIFY(slave.control->reportComplete(0));
    QVERIFY(runEventLoopUntil([&] { return entry().isComplete; }));
    QVERIFY(master.notifySlaveStopClockSync());
}

QList<Row> decode(const QString& pcap, const QString& script)
{
    QStringList arguments = {"-r", pcap, "-X", "lua_script:" + script, "-Y", "tamo", "-T", "fields",
                             "-E", "separator=\t", "-E", "occurrence=f"};
    for (const QString& field : kFields)
        arguments << "-e" << field;
    QProcess tshark;
    tshark.start(QStringLiteral("tshark"), arguments);
    if (!tshark.waitForFinished(60000) || tshark.exitCode() != 0) {
        qWarning("tshark: %s", tshark.readAllStandardError().constData());
        return {};
    }
    QList<Row> rows;
    for (const QString& line : QString::fromLatin1(tshark.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList values = line.split('\t');
        Row row;
        for (int i = 0; i < kFields.size() && i < values.size(); ++i)
            row.insert(kFields[i], QString(values[i]).remove(':'));
        rows << row;
    }
    return rows;
}

} // namespace

class tst_Dissector : public QObject
{
    Q_OBJECT

    QString m_script;

private slots:
    void initTestCase();
    void sessionDecodesWithItsValues_data();
    void sessionDecodesWithItsValues();
};

void tst_Dissector::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("dumpcap")).isEmpty())
        QSKIP("tshark and dumpcap are not installed (Debian package tshark)");
    m_script = QFINDTESTDATA("../../tools/wireshark/tamo_multinetcontrol.lua");
    QVERIFY2(!m_script.isEmpty(), "tools/wireshark/tamo_multinetcontrol.lua not found");
}

void tst_Dissector::sessionDecodesWithItsValues_data()
{
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<bool>("keyed");
    QTest::newRow("acknowledged delivery and health: 207, 313 and 208") << true << false;
    QTest::newRow("keyed group: every datagram signed") << false << true;
}

void tst_Dissector::sessionDecodesWithItsValues()
{
    QFETCH(bool, acknowledged);
    QFETCH(bool, keyed);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString pcap = dir.filePath(QStringLiteral("session.pcapng"));
    {
        LogCapture quiet;  // the session's own lines are not what is tested here
        LoopbackGroup group(kMasterIp);  // nothing is sent before findSlavePlayer
        LoopbackNode& slave = group.addSlave(kSlaveIp, {0});
        const unsigned options = acknowledged ? NetControlNS::AcknowledgedDelivery | NetControlNS::HealthReports : 0;
        group.master().control->setOptions(options);
        slave.control->setOptions(options);
        slave.control->setHealthText("left screen");
        QVERIFY(!keyed || (group.master().control->setGroupKeys({kGroupKey}) && slave.control->setGroupKeys({kGroupKey})));
        // Only this session's sockets: another run of this test at the same time uses the same addresses.
        // On loopback a clock datagram's rehearsal (a multicast copy that a network device never sends)
        // reaches the capture too: it is not the session's traffic.
        const QString filter = QStringLiteral("udp and not dst net 224.0.0.0/4 and ((src host %1 and src port %2) or (src host %3 and src port %4))")
                                   .arg(QString::fromStdString(kMasterIp)).arg(group.master().control->unicastPort())
                                   .arg(QString::fromStdString(kSlaveIp)).arg(slave.control->unicastPort());
        LoopbackCapture capture(pcap, filter);
        const QString captureError = capture.waitUntilCapturing();
        if (!captureError.isEmpty())
            QSKIP(qPrintable("dumpcap cannot capture on the loopback interface: " + captureError));
        runSession(group, slave);
        capture.waitUntilWritten();
    }
    if (QTest::currentTestFailed())
        return;
    const QList<Row> rows = decode(pcap, m_script);
    QVERIFY2(!rows.isEmpty(), "tshark decoded nothing");

    // The header of every datagram: its lengths add up to the UDP length, and its fields are the session's.
    // Each acknowledgement names a datagram that its receiver sent before, by sequence number and code,
    // and shows a name. A clock reply carries the request's send time after the master's two stamps.
    std::set<int> codes;
    QMap<QString, int> codeBySenderAndSeq;
    QSet<QString> requestSendTimes;
    for (const Row& row : rows) {
        const int code = row["tamo.code"].toInt();
        codes.insert(code);
        const QByteArray where = QByteArray::number(code) + " seq " + row["tamo.seq"].toLatin1();
        QVERIFY2(row["tamo.magic"] == "0x55cc55cc" && row["tamo.tag"] == (keyed ? "0x0200" : "0x0100"), where);
        QVERIFY2(row["tamo.group"].toInt() == LoopbackGroup::kGroupId && !row["tamo.direction"].isEmpty(), where);
        QVERIFY2(row["tamo.pid"] == QString::number(QCoreApplication::applicationPid()), where);
        const int datagramSize = 24 + row["tamo.datalen"].toInt() + row["tamo.userdatalen"].toInt();
        QVERIFY2(datagramSize + (keyed ? kSignatureSize : 0) == row["udp.length"].toInt() - 8, where);
        // The MAC, computed over the decoded key id and counter, is the datagram's own.
        QVERIFY2(row["tamo.signature.key_id"] == (keyed ? QString::number(kGroupKey.id) : QString()), where);
        if (keyed)
            QVERIFY2(row["tamo.signature.mac"] == macOf(row) && row["udp.payload"].endsWith(macOf(row)), where);
        if (code == 208)
            QVERIFY2(row["tamo.health.version"] == "1" && row["tamo.health.text"] == "left screen", where);
        codeBySenderAndSeq[row["ip.src"] + "/" + row["tamo.seq"]] = code;
        if (code == 207 || code == 313) {
            const int acked = row["tamo.ack.code"].toInt();
            QVERIFY2(!row["tamo.ack.name"].isEmpty(), where);
            QVERIFY2(codeBySenderAndSeq.value(row["ip.dst"] + "/" + row["tamo.ack.seq"]) == acked, where);
        }
        if (code == 202)
            requestSendTimes.insert(row["tamo.clock.s2"]);
        if (code == 307) {
            const qint64 s0 = row["tamo.clock.s0"].toLongLong();
            QVERIFY2(s0 > 0 && row["tamo.clock.s1"].toLongLong() >= s0 && row["tamo.clock.s3"] == "0", where);
            QVERIFY2(requestSendTimes.contains(row["tamo.clock.s2"]), "a reply to no captured request");
        }
    }
    std::set<int> allCodes = {200, 201, 202, 203, 204, 205, 206, 300, 301, 302, 303, 304, 305, 307, 308, 309, 310, 311, 312};
    if (acknowledged)
        allCodes.insert({207, 208, 313});
    QCOMPARE(codes, allCodes);

    // The payloads and user data of the commands, as the session gave them; layers are signed; a clock
    // request leaves without the master's receipt stamp.
    const auto first = [&rows](int code) {
        const auto it = std::find_if(rows.cbegin(), rows.cend(), [code](const Row& r) { return r["tamo.code"].toInt() == code; });
        return it == rows.cend() ? Row() : *it;
    };
    const struct { int code; const char* field; QString value; } kValues[] = {
        {304, "tamo.userdata", hexOf("prep-ud")}, {301, "tamo.layer", "3"}, {301, "tamo.start.first", "1.5"},
        {301, "tamo.start.second", "2.5"}, {301, "tamo.userdata", hexOf("start-ud")}, {302, "tamo.value", "0.25"},
        {302, "tamo.userdata", ""}, {303, "tamo.value", "7.75"}, {303, "tamo.userdata", hexOf("s")},
        {305, "tamo.seek.position", "123456789012"}, {305, "tamo.seek.flag", "1"}, {305, "tamo.seek.value", "-2.5"},
        {310, "tamo.speed", "1.5"}, {300, "tamo.layer", "-1"}, {202, "tamo.datalen", "32"}, {202, "tamo.clock.s0", "0"}};
    for (const auto& v : kValues)
        QVERIFY2(first(v.code)[v.field] == v.value, qPrintable(QString::number(v.code) + " " + v.field));
}

QTEST_GUILESS_MAIN(tst_Dissector)
#include "tst_dissector.moc"
