// SPDX-License-Identifier: MIT
// Captures what the library prints on standard output while the object lives.
#pragma once

#include <QByteArray>
#include <QTemporaryFile>

class StdoutCapture
{
public:
    StdoutCapture();
    // Restores standard output; when the running test has failed, replays what was captured so that the
    // failure message (which Qt Test also prints on standard output) is not lost.
    ~StdoutCapture();

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything printed since construction.
    QByteArray text();

private:
    QTemporaryFile m_file;
    int m_savedStdout = -1;
};
