// SPDX-License-Identifier: MIT
#include "support/Args.h"

#include <sstream>
#include <stdexcept>

Args::Args(int argc, char** argv) : Args(std::vector<std::string>(argv + 1, argv + argc)) {}

Args::Args(const std::vector<std::string>& words)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.rfind("--", 0) != 0)
            throw std::invalid_argument("unexpected argument '" + word + "'");
        const bool hasValue = i + 1 < words.size() && words[i + 1].rfind("--", 0) != 0;
        m_options.emplace(word.substr(2), hasValue ? words[++i] : std::string());
    }
}

bool Args::has(const std::string& name) const
{
    return m_options.count(name) > 0;
}

std::string Args::text(const std::string& name, const std::string& fallback) const
{
    const auto it = m_options.find(name);
    return it == m_options.end() ? fallback : it->second;
}

std::int64_t Args::number(const std::string& name, std::int64_t fallback) const
{
    const auto it = m_options.find(name);
    return it == m_options.end() ? fallback : std::stoll(it->second);
}

std::vector<std::string> Args::all(const std::string& name) const
{
    std::vector<std::string> values;
    const auto range = m_options.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        values.push_back(it->second);
    return values;
}

std::vector<std::string> splitFields(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}
