// SPDX-License-Identifier: MIT
// The secret that the operator's commands carry ("Authorization: Bearer TOKEN"), read from a file that
// only its owner may read. It is never printed: a refusal names the file and the reason, not the token.
#pragma once

#include <QString>

#include <optional>
#include <string>

class OperatorToken
{
public:
    // Shorter tokens are refused: they could be guessed over a LAN.
    static constexpr int kMinLength = 16;

    // The token in `path` (its first line, without surrounding blanks); nothing, with `error` saying why,
    // when the file is missing, is not a regular file, is readable by its group or by others, or holds
    // too short a token.
    static std::optional<OperatorToken> load(const QString& path, QString& error);

    // Whether an Authorization header's value carries this token, in time that does not depend on where
    // a wrong one differs.
    bool authorizes(const std::string& authorization) const;

private:
    explicit OperatorToken(std::string secret) : m_secret(std::move(secret)) {}

    std::string m_secret;
};
