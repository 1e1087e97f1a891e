// SPDX-License-Identifier: MIT
#include "common/StdoutCapture.h"

#include <QTest>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

StdoutCapture::StdoutCapture()
{
    if (!m_file.open())
        qFatal("StdoutCapture: cannot open a temporary file");
    std::fflush(stdout);
    m_savedStdout = dup(fileno(stdout));
    dup2(m_file.handle(), fileno(stdout));
}

StdoutCapture::~StdoutCapture()
{
    const QByteArray captured = text();
    dup2(m_savedStdout, fileno(stdout));
    close(m_savedStdout);
    if (QTest::currentTestFailed()) {
        std::fwrite(captured.constData(), 1, static_cast<size_t>(captured.size()), stdout);
        std::fflush(stdout);
    }
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    QFile reader(m_file.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return {};
    return reader.readAll();
}
