// SPDX-License-Identifier: MIT
#include "MasterActions.h"

namespace {

CommandResult outcome(bool carriedOut)
{
    return carriedOut ? CommandResult::done()
                      : CommandResult::refused(QStringLiteral("not carried out; the master's error line says why"));
}

} // namespace

OperatorActions actionsOf(MasterPlayer& master, int marginMs)
{
    OperatorActions actions;
    actions.play = [&master] { return outcome(master.play()); };
    actions.pause = [&master] { return outcome(master.pause()); };
    actions.seek = [&master](qint64 positionUs) { return outcome(master.seek(positionUs * 1000)); };
    actions.next = [&master] { return outcome(master.nextItem()); };
    actions.stop = [&master] { return outcome(master.stopProgramme()); };
    actions.trim = [&master, marginMs](const QString& screen, int ms) {
        if (const QString refusal = trimRefusal(ms, marginMs); !refusal.isEmpty())
            return CommandResult::refused(refusal);
        return outcome(master.setTrim(screen, ms));
    };
    actions.quit = [&master] {
        master.stop();
        return CommandResult::done(QStringLiteral("the show ends"));
    };
    return actions;
}
