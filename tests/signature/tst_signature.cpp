// SPDX-License-Identifier: MIT
// A keyed datagram's MAC against Qt's HMAC-SHA256 of the same bytes, at lengths on each side of the
// hash's block and padding boundaries, so that a fault in the library's own hashing cannot hide behind a
// signer and a checker that agree with each other.
#include "wire/ByteOrder.h"
#include "wire/Signature.h"

#include <QMessageAuthenticationCode>
#include <QtTest>

using namespace tamo::detail;

class tst_Signature : public QObject
{
    Q_OBJECT

private slots:
    void macIsHmacSha256_data();
    void macIsHmacSha256();
};

void tst_Signature::macIsHmacSha256_data()
{
    QTest::addColumn<int>("datagramLen");
    QTest::addColumn<QByteArray>("secret");
    const QByteArray groupKey = QByteArray::fromHex("00112233445566778899aabbccddeeff0123456789abcdeffedcba9876543210");
    for (int len : {0, 1, 44, 45, 52, 53, 54, 64, 108, 109, 117, 118, 200, 1400})
        QTest::addRow("%d bytes", len) << len << groupKey;
    QTest::newRow("a key of a whole block") << 104 << QByteArray(64, '\x5a');
}

void tst_Signature::macIsHmacSha256()
{
    QFETCH(int, datagramLen);
    QFETCH(QByteArray, secret);
    QByteArray datagram(datagramLen, '\0');
    for (int i = 0; i < datagramLen; ++i)
        datagram[i] = char(i * 7 + 3);
    const std::uint16_t port = 47001;
    const std::uint8_t keyId = 9;
    const std::uint64_t counter = 0x0123456789abcdefULL;

    char bound[11];
    wire::putU16(bound, port);
    bound[2] = char(keyId);
    wire::putU64(bound + 3, counter);
    const QByteArray expected = QMessageAuthenticationCode::hash(datagram + QByteArray(bound, sizeof bound), secret,
                                                                 QCryptographicHash::Sha256)
                                    .left(kMacSize);
    const Mac mac = computeMac(secret, datagram.constData(), datagramLen, port, keyId, counter);
    QCOMPARE(QByteArray(mac.data(), kMacSize).toHex(), expected.toHex());
}

QTEST_APPLESS_MAIN(tst_Signature)
#include "tst_signature.moc"
