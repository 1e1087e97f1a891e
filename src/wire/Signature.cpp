// SPDX-License-Identifier: MIT
#include "wire/Signature.h"

#include "wire/ByteOrder.h"

#include <QMessageAuthenticationCode>

namespace tamo::detail {

Mac computeMac(const QByteArray& secret, const char* datagram, int datagramLen, std::uint16_t senderPort,
               std::uint8_t keyId, std::uint64_t counter)
{
    char bound[11];
    wire::putU16(bound, senderPort);
    bound[2] = static_cast<char>(keyId);
    wire::putU64(bound + 3, counter);
    QMessageAuthenticationCode code(QCryptographicHash::Sha256, secret);
    code.addData(datagram, datagramLen);
    code.addData(bound, sizeof bound);
    const QByteArray full = code.result();
    Mac mac;
    std::copy(full.constData(), full.constData() + kMacSize, mac.begin());
    return mac;
}

bool sameMac(const char* a, const char* b)
{
    unsigned char difference = 0;
    for (int i = 0; i < kMacSize; ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace tamo::detail
