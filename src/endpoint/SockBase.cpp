// SPDX-License-Identifier: MIT
#include "endpoint/SockBase.h"

#include <utility>

namespace tamo::detail {

SockBase::SockBase(NetControlNS::struAddress localAddress) : m_localAddress(std::move(localAddress)) {}

SockBase::~SockBase() = default;

} // namespace tamo::detail
