// SPDX-License-Identifier: MIT
// The operator's server of a build without cpp-httplib: it never starts, and says why.
#include "OperatorServer.h"

struct OperatorServer::Impl
{
};

std::unique_ptr<OperatorServer> OperatorServer::start(const QString&, quint16, OperatorToken, CommandHandler, QString& error)
{
    error = QStringLiteral("this multinet-player was built without the operator's page: cpp-httplib was not found "
                           "(libcpp-httplib-dev)");
    return nullptr;
}

OperatorServer::OperatorServer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

OperatorServer::~OperatorServer() = default;

void OperatorServer::publish(const ShowStatus&) {}

quint16 OperatorServer::port() const
{
    return 0;
}

bool OperatorServer::readsNeedToken() const
{
    return true;
}
