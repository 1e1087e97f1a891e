// SPDX-License-Identifier: MIT
// A host's key file, read again on SIGHUP, so that an operator changes a keyed group's key during a show
// without stopping a player: every node gets both keys, the new one second, then the new one first or
// alone. A good file replaces the keys and prints one event line with their ids, signing one first
// ("keys-reloaded ids=2,1"); a bad one keeps the keys in force and prints why.
#pragma once

#include "HangUpSignal.h"
#include "KeyFile.h"

#include <QString>

#include <functional>
#include <vector>

class KeyFileReload
{
public:
    // Hands keys to the library. A KeyFile's keys always meet MultiNetControl::setGroupKeys()'s terms.
    using Apply = std::function<void(const std::vector<KeyFile::Key>&)>;

    // Hands `file`'s keys to `apply` at once, and the file's again after each SIGHUP, on the thread that
    // made this object. `who` begins the line of a file that is not taken ("multinet-demo slave").
    KeyFileReload(KeyFile file, QString who, Apply apply);

private:
    void reload();

    KeyFile m_inForce;
    const QString m_who;
    const Apply m_apply;
    HangUpSignal m_hangUp;
};
