// SPDX-License-Identifier: MIT
// Holds back what the process writes to standard error while it lives: the descriptor itself is
// redirected, so that every writer's lines are caught (fprintf, Qt's messages). For trying arguments on
// the player's own parser, which prints its refusals, and saying a refusal again in other words.
#pragma once

#include <QString>

#include <cstdio>

class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();

    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Ends the capture and returns what was written meanwhile; standard error is itself again.
    QString finish();

private:
    std::FILE* m_capture = nullptr;  // an unnamed file that stands in for standard error
    int m_saved = -1;                // standard error as it was
};
