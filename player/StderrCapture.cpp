// SPDX-License-Identifier: MIT
#include "StderrCapture.h"

#include <QByteArray>

#include <unistd.h>

StderrCapture::StderrCapture()
{
    // A file rather than a pipe: no writer can block on it, however much it writes.
    m_capture = std::tmpfile();
    if (!m_capture)
        return;  // nothing is held back: the lines go out as they come
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    dup2(fileno(m_capture), STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    finish();
}

QString StderrCapture::finish()
{
    if (!m_capture)
        return QString();
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    QByteArray text;
    std::rewind(m_capture);
    char chunk[4096];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, m_capture)) > 0;)
        text.append(chunk, int(got));
    std::fclose(m_capture);
    m_capture = nullptr;
    return QString::fromLocal8Bit(text);
}
