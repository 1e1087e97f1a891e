// SPDX-License-Identifier: MIT
#include "KeyedGroup.h"

#include "EventLine.h"

std::unique_ptr<KeyFileReload> keepKeys(const std::optional<KeyFile>& file, MultiNetControl& control, const QString& who)
{
    if (!file)
        return nullptr;
    return std::make_unique<KeyFileReload>(*file, who, [&control](const std::vector<KeyFile::Key>& keys) {
        std::vector<NetControlNS::struGroupKey> groupKeys;
        for (const KeyFile::Key& key : keys)
            groupKeys.push_back(NetControlNS::struGroupKey{key.id, key.secret});
        control.setGroupKeys(groupKeys);
    });
}

void printDropCounts(const NetControlNS::struDropCounts& counts)
{
    EventLine(QStringLiteral("drops"))
        .add(QStringLiteral("unsigned"), qint64(counts.unsignedDatagrams))
        .add(QStringLiteral("unknown-key"), qint64(counts.unknownKey))
        .add(QStringLiteral("bad-signature"), qint64(counts.badSignature))
        .add(QStringLiteral("replayed"), qint64(counts.replayed))
        .add(QStringLiteral("signed-without-key"), qint64(counts.signedWithoutKey))
        .print();
}
