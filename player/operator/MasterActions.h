// SPDX-License-Identifier: MIT
// The operator's commands as a master carries them out, through its public operations. A refusal says
// why where the operator can do something about it (a trim out of bounds); otherwise the master's own
// error line does.
#pragma once

#include "MasterPlayer.h"
#include "OperatorConsole.h"

// `marginMs`: how far ahead the master sets its instants, which bounds how early a screen may be trimmed.
OperatorActions actionsOf(MasterPlayer& master, int marginMs);
