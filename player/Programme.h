// SPDX-License-Identifier: MIT
// What a player plays: one or more media items in turn, and from the first again when it loops. Each
// item played is a "play", counted from 0 over the whole programme: with three items looping, play 4 is
// the second item in its second round. A frame is known by its play and its time stamp in the item, the
// same on every player whatever its clock, so that frame logs compare across players and loops.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class Programme
{
public:
    // Plays are at most this long, so that a frame's key (play * kPlaySpanNs + time stamp) stays ordered.
    static constexpr qint64 kPlaySpanNs = 10000LL * 1000000000LL;

    Programme() = default;
    Programme(QStringList uris, bool loop) : m_uris(std::move(uris)), m_loop(loop) {}

    bool isEmpty() const { return m_uris.isEmpty(); }
    const QStringList& uris() const { return m_uris; }
    bool loops() const { return m_loop; }
    // The item of play `play`, or -1 past the end of a programme that does not loop.
    int itemOfPlay(qint64 play) const;
    // Its URI; empty past the end.
    QString uriOfPlay(qint64 play) const;

    static qint64 frameKey(qint64 play, qint64 ptsNs) { return play * kPlaySpanNs + ptsNs; }
    static qint64 playOfKey(qint64 key) { return key / kPlaySpanNs; }

    bool operator==(const Programme& other) const { return m_uris == other.m_uris && m_loop == other.m_loop; }

private:
    QStringList m_uris;
    bool m_loop = false;
};

// A place in the programme: a play and a position in its item.
struct ProgrammePoint
{
    qint64 play = 0;
    qint64 positionNs = 0;
};
