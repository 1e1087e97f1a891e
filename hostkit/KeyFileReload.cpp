// SPDX-License-Identifier: MIT
#include "KeyFileReload.h"

#include "EventLine.h"

KeyFileReload::KeyFileReload(KeyFile file, QString who, Apply apply)
    : m_inForce(std::move(file)), m_who(std::move(who)), m_apply(std::move(apply)), m_hangUp([this] { reload(); })
{
    m_apply(m_inForce.keys);
}

void KeyFileReload::reload()
{
    QString error;
    std::optional<KeyFile> file = KeyFile::read(m_inForce.path, error);
    if (!file) {
        printOutputLine(QStringLiteral("%1: key file %2 not taken: %3; keys %4 stay in force")
                            .arg(m_who, m_inForce.path, error, m_inForce.ids()));
        return;
    }
    m_apply(file->keys);
    m_inForce = std::move(*file);
    EventLine(QStringLiteral("keys-reloaded")).add(QStringLiteral("ids"), m_inForce.ids()).print();
}
