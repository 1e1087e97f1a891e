// SPDX-License-Identifier: MIT
#include "roles/Roles.h"

#include <cstdio>
#include <exception>
#include <string>

int runRole(const Args& args)
{
    static const struct
    {
        const char* name;
        int (*run)(const Args&);
    } kRoles[] = {
        {"library-node", runLibraryNodeRole},   {"raw-sender", runRawSenderRole},
        {"raw-receiver", runRawReceiverRole},   {"raw-scale-master", runRawScaleMasterRole},
        {"scale-peers", runScalePeersRole},     {"gst-provider", runGstProviderRole},
        {"gst-client", runGstClientRole},       {"memory-probe", runMemoryProbeRole},
    };
    const std::string name = args.text("role");
    for (const auto& role : kRoles) {
        if (name != role.name)
            continue;
        try {
            return role.run(args);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tamo_bench role %s failed: %s\n", role.name, e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "tamo_bench: no role named '%s'\n", name.c_str());
    return -1;
}
