// SPDX-License-Identifier: MIT
// What a player reads from a command: the user data's words, and the frame and instant each command names.
#include "CommandData.h"
#include "SyncCommand.h"

#include <QtTest>

class tst_PlayerCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userDataWords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("at");
        QTest::newRow("tag and instant") << QByteArray("at=123456 tag=cmd4") << "cmd4" << "123456";
        QTest::newRow("blanks around") << QByteArray("  tag=cmd1   at=9  ") << "cmd1" << "9";
        QTest::newRow("words without =") << QByteArray("hello =x tag=cmd2") << "cmd2" << "";
        QTest::newRow("a demo host's bare tag") << QByteArray("cmd7") << "" << "";
        QTest::newRow("empty") << QByteArray() << "" << "";
        QTest::newRow("binary") << QByteArray("\x01\xff=\x00tag=\xfe", 9) << "" << "";
    }
    void userDataWords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, tag);
        QFETCH(QString, at);
        const CommandData data = CommandData::parse(bytes.constData(), int(bytes.size()));
        QCOMPARE(data.value(QStringLiteral("tag")), tag);
        QCOMPARE(data.value(QStringLiteral("at")), at);
        QCOMPARE(CommandData::parse(data.bytes().constData(), int(data.bytes().size())).value(QStringLiteral("tag")), tag);
    }

    void commandsFromCallbacks()
    {
        CommandData data;
        data.set(QStringLiteral("tag"), QStringLiteral("cmd3")).set(QStringLiteral("pos"), 4066666).set(QStringLiteral("at"), 987654321);

        const SyncCommand start = SyncCommand::start(1.5, 5e6, data);
        QCOMPARE(start.kind, SyncCommand::Start);
        QCOMPARE(start.positionUs, qint64(1500000));
        QCOMPARE(start.atHostUs, 5e6);
        QCOMPARE(start.tag, QStringLiteral("cmd3"));

        const SyncCommand pause = SyncCommand::pause(7e6, data);
        QCOMPARE(pause.positionUs, qint64(4066666));
        QCOMPARE(pause.atHostUs, 7e6);
        // Without pos=, the player holds the frame it shows at the instant.
        QCOMPARE(SyncCommand::pause(7e6, CommandData()).positionUs, qint64(-1));

        const SyncCommand seek = SyncCommand::seek(3000000, false, 8e6, data);
        QCOMPARE(seek.positionUs, qint64(3000000));
        QVERIFY(!seek.playOn);

        const std::optional<SyncCommand> speed = SyncCommand::speed(2.0, data);
        QVERIFY(speed);
        QCOMPARE(speed->rate, 2.0);
        QCOMPARE(speed->positionUs, qint64(4066666));
        QCOMPARE(speed->atHostUs, 987654321.0);

        const std::optional<SyncCommand> step = SyncCommand::step(SyncCommand::StepBack, data);
        QVERIFY(step);
        QCOMPARE(step->kind, SyncCommand::StepBack);

        // A speed change or a step without its instant and position cannot be placed: refused.
        CommandData onlyTag;
        onlyTag.set(QStringLiteral("tag"), QStringLiteral("cmd9"));
        QVERIFY(!SyncCommand::speed(2.0, onlyTag));
        QVERIFY(!SyncCommand::step(SyncCommand::Step, onlyTag));
        CommandData badNumber;
        badNumber.set(QStringLiteral("at"), QStringLiteral("soon")).set(QStringLiteral("pos"), 1);
        QVERIFY(!SyncCommand::step(SyncCommand::Step, badNumber));
    }
};

QTEST_GUILESS_MAIN(tst_PlayerCommands)
#include "tst_playercommands.moc"
