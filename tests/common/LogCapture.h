// SPDX-License-Identifier: MIT
// Collects the library's log lines, through its log handler, while the object lives.
#pragma once

#include <QByteArray>

class LogCapture
{
public:
    // Installs the collecting handler and starts the flood limit afresh, so that lines printed before
    // (by earlier test rows) cannot hold back any line of this capture. Captures may nest.
    LogCapture();
    // Puts the previous handler back once the outermost capture ends; when the running test has failed,
    // prints what was collected so that it shows beside the failure message.
    ~LogCapture();

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line logged since construction.
    QByteArray text() const;

private:
    int m_start = 0;  // where this capture's lines begin in the shared collection
};
