// SPDX-License-Identifier: MIT
// The processes that the scenarios are made of. The driver starts this same program with
// "--role <name> <options>"; each role talks to it through ChildControl.
#pragma once

#include "support/Args.h"
#include "support/WireBytes.h"

int runLibraryNodeRole(const Args& args);
int runRawSenderRole(const Args& args);
int runRawReceiverRole(const Args& args);
int runRawScaleMasterRole(const Args& args);
int runScalePeersRole(const Args& args);
int runGstProviderRole(const Args& args);
int runGstClientRole(const Args& args);
int runMemoryProbeRole(const Args& args);

// Runs the role named by --role; -1 when there is no such role.
int runRole(const Args& args);
