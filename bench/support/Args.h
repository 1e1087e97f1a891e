// SPDX-License-Identifier: MIT
// The command line of a benchmark process: "--name value" options and "--name" flags.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class Args
{
public:
    Args(int argc, char** argv);
    explicit Args(const std::vector<std::string>& words);

    bool has(const std::string& name) const;
    std::string text(const std::string& name, const std::string& fallback = {}) const;
    std::int64_t number(const std::string& name, std::int64_t fallback = 0) const;
    // Every value given for a repeatable option, e.g. "--scenario latency --scenario clock".
    std::vector<std::string> all(const std::string& name) const;

private:
    std::multimap<std::string, std::string> m_options;  // a flag maps to an empty value
};

// The blank-separated fields of one line, and a run of such lines.
std::vector<std::string> splitFields(const std::string& line);
using Lines = std::vector<std::vector<std::string>>;
