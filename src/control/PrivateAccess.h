// SPDX-License-Identifier: MIT
// The private part of a control object, for the library's own fuzz target and tests, which drive the
// receive path without sockets. Hosts have no way to it: the public header offers none.
#pragma once

#include "MultiNetControl.h"
#include "control/MultiNetControlPrivate.h"

namespace tamo::detail {

struct PrivateAccess : MultiNetControl
{
    static MultiNetControlPrivate& of(MultiNetControl& control) { return *(control.*(&PrivateAccess::m_impl)); }
};

} // namespace tamo::detail
