// SPDX-License-Identifier: MIT
// The datagram codec on its own: the header as encoded, byte for byte (every test over sockets decodes it),
// and the health payload. The payloads of commands: tests/multinetcontrol (sendersOnTheWire); the
// completeness test meets malformed datagrams over real sockets in tests/malformed.
#include "common/LoopbackPeers.h"
#include "wire/HealthReport.h"

#include <QTest>

using namespace tamo::detail;

class tst_WireFormat : public QObject
{
    Q_OBJECT
private slots:
    void header_data();
    void header();
    void healthReport_data();
    void healthReport();
};

void tst_WireFormat::header_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("group");
    QTest::addColumn<quint32>("pid");
    QTest::addColumn<int>("seq");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("find partner") << 300 << -1 << 5 << 77u << 7
                                  << QByteArray::fromHex("cc55cc55 4d000000 2c01 0001 0500 ffff 0700 0000 0000 0000");
    QTest::newRow("group beyond 16 bits") << 304 << 2 << 0x10005 << 0xDEADBEEFu << 65535
                                          << QByteArray::fromHex("cc55cc55 efbeadde 3001 0001 0500 0200 ffff 0000 0000 0000");
}

void tst_WireFormat::header()
{
    QFETCH(int, code);
    QFETCH(int, layer);
    QFETCH(int, group);
    QFETCH(quint32, pid);
    QFETCH(int, seq);
    QFETCH(QByteArray, bytes);
    const QByteArray built = buildDatagram(static_cast<quint16>(code), layer, group, {}, {}, pid, static_cast<quint16>(seq));
    QCOMPARE(built.toHex(), bytes.toHex());
}

QTEST_GUILESS_MAIN(tst_WireFormat)
// The health payload: what one version writes, the next reads; what does not fit is no report.
void tst_WireFormat::healthReport_data()
{
    HealthReport report;
    report.flags = HealthReport::ClockValid | HealthReport::CommandKnown;
    report.offsetUs = -12.5;
    report.lastCommandCode = 301;
    report.lastCommandSeq = 65535;
    report.framesShown = 7;
    report.text = "screen 3 avdec_h264";
    const std::vector<char> encoded = encodeHealthReport(report);
    const QByteArray bytes(encoded.data(), int(encoded.size()));
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("valid");
    QTest::newRow("as written") << bytes << true;
    QTest::newRow("a later version appends a field") << [&] {
        QByteArray longer = bytes + QByteArray(8, 'x');
        longer[0] = 2;
        longer[2] = char(longer.size());
        return longer;
    }() << true;
    QTest::newRow("shorter than the fixed part") << bytes.left(HealthReport::kFixedSize - 1) << false;
    QTest::newRow("length beyond the datagram") << bytes.left(HealthReport::kFixedSize + 3) << false;
    const auto with = [&bytes](int at, int value) {
        QByteArray changed = bytes;
        changed[at] = char(value);
        return changed;
    };
    QTest::newRow("text beyond the length") << with(5, HealthReport::kMaxTextSize + 1) << false;
    QTest::newRow("version 0") << with(0, 0) << false;
}

void tst_WireFormat::healthReport()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, valid);
    const std::optional<HealthReport> decoded = decodeHealthReport(payload.constData(), std::size_t(payload.size()));
    QCOMPARE(bool(decoded), valid);
    if (!valid)
        return;
    QCOMPARE(decoded->offsetUs, -12.5);
    QCOMPARE(int(decoded->lastCommandSeq), 65535);
    QCOMPARE(decoded->framesShown, 7u);
    QCOMPARE(decoded->text, std::string("screen 3 avdec_h264"));
    // A text too long is cut at a character, never inside one.
    QCOMPARE(fitHealthText(std::string(63, 'a') + "\xc3\xa9").size(), std::size_t(63));
}

#include "tst_wireformat.moc"
