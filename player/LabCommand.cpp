// SPDX-License-Identifier: MIT
#include "LabCommand.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

int handOverToLab(const QStringList& arguments)
{
    const QByteArray lab = QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/multinet-lab"));
    std::vector<QByteArray> words{lab};
    for (int i = 1; i < arguments.size(); ++i)
        words.push_back(arguments[i].toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::execv(lab.constData(), argv.data());
    std::fprintf(stderr, "multinet-player: %s is the lab's, and multinet-lab cannot be started at %s: %s (the two are built "
                         "and installed together)\n",
                 qPrintable(arguments.value(1)), lab.constData(), std::strerror(errno));
    return 1;
}
