// SPDX-License-Identifier: MIT
#include "net/SockBase.h"

#include <utility>

namespace tamo::detail {

SockBase::SockBase(NetControlNS::struAddress localAddress) : m_localAddress(std::move(localAddress)) {}

SockBase::~SockBase() = default;

} // namespace tamo::detail
