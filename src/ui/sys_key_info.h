#pragma once
// One key of a stored key sequence, and the name-ordered map of sequences.
#include <QMap>
#include <QString>
#include <cstdint>
#include <vector>

struct SYSTEMKEYINFO
{
    QString str;    // display name, only ever shown
    int32_t value = 0;  // Qt key code; the only field used for sending
};

inline bool operator==(const SYSTEMKEYINFO& a, const SYSTEMKEYINFO& b)
{
    return a.str == b.str && a.value == b.value;
}

// QString's ordering compares UTF-16 code units, so "A" sorts before "b".
// An absent name looks up as an empty list (QMap::value).
typedef QMap<QString, std::vector<SYSTEMKEYINFO> > SysKeyMap;
