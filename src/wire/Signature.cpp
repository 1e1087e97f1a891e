// SPDX-License-Identifier: MIT
#include "wire/Signature.h"

#include "wire/ByteOrder.h"

#include <algorithm>

namespace tamo::detail {

MacKey::MacKey(const QByteArray& secret)
{
    // Group keys are 32 bytes: one block holds them, zero-padded, as HMAC says.
    Q_ASSERT(secret.size() <= Sha256::kBlockSize);
    unsigned char block[Sha256::kBlockSize] = {};
    std::copy(secret.constBegin(), secret.constBegin() + std::min(secret.size(), Sha256::kBlockSize), block);
    unsigned char pad[Sha256::kBlockSize];
    for (int i = 0; i < Sha256::kBlockSize; ++i)
        pad[i] = block[i] ^ 0x36;
    m_inner.add(pad, sizeof pad);
    for (int i = 0; i < Sha256::kBlockSize; ++i)
        pad[i] = block[i] ^ 0x5c;
    m_outer.add(pad, sizeof pad);
}

Mac computeMac(const MacKey& key, const char* datagram, int datagramLen, std::uint16_t senderPort,
               std::uint8_t keyId, std::uint64_t counter)
{
    char bound[11];
    wire::putU16(bound, senderPort);
    bound[2] = static_cast<char>(keyId);
    wire::putU64(bound + 3, counter);
    Sha256 inner = key.inner();
    inner.add(datagram, std::size_t(datagramLen));
    inner.add(bound, sizeof bound);
    const Sha256::Digest innerDigest = inner.finish();
    Sha256 outer = key.outer();
    outer.add(innerDigest.data(), innerDigest.size());
    const Sha256::Digest full = outer.finish();
    Mac mac;
    std::copy(full.begin(), full.begin() + kMacSize, mac.begin());
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
