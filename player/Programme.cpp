// SPDX-License-Identifier: MIT
#include "Programme.h"

int Programme::itemOfPlay(qint64 play) const
{
    const qint64 items = m_uris.size();
    if (play < 0 || items == 0 || (!m_loop && play >= items))
        return -1;
    return int(play % items);
}

QString Programme::uriOfPlay(qint64 play) const
{
    const int item = itemOfPlay(play);
    return item < 0 ? QString() : m_uris.at(item);
}
