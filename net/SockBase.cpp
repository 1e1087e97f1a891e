#include "net/SockBase.h"

#include <utility>

SockBase::SockBase(NetControlNS::struAddress localAddress) : m_localAddress(std::move(localAddress)) {}

SockBase::~SockBase() = default;
