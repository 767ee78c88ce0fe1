#include "bus/key_names.h"

#include <QKeySequence>
#include <QMap>
#include <QStringList>

namespace {

int named_key(const QString& raw)
{
    static const QMap<QString, int> aliases = {
        {QStringLiteral("ctrl"), Qt::Key_Control},     {QStringLiteral("control"), Qt::Key_Control},
        {QStringLiteral("alt"), Qt::Key_Alt},          {QStringLiteral("shift"), Qt::Key_Shift},
        {QStringLiteral("meta"), Qt::Key_Meta},        {QStringLiteral("super"), Qt::Key_Meta},
        {QStringLiteral("win"), Qt::Key_Meta},         {QStringLiteral("delete"), Qt::Key_Delete},
        {QStringLiteral("escape"), Qt::Key_Escape},    {QStringLiteral("pageup"), Qt::Key_PageUp},
        {QStringLiteral("pagedown"), Qt::Key_PageDown}, {QStringLiteral("enter"), Qt::Key_Return},
        {QStringLiteral("kp_enter"), Qt::Key_Enter},   {QStringLiteral("backspace"), Qt::Key_Backspace},
        {QStringLiteral("printscreen"), Qt::Key_Print}, {QStringLiteral("print"), Qt::Key_Print},
        {QStringLiteral("capslock"), Qt::Key_CapsLock}, {QStringLiteral("numlock"), Qt::Key_NumLock},
        {QStringLiteral("scrolllock"), Qt::Key_ScrollLock}, {QStringLiteral("plus"), Qt::Key_Plus},
    };
    const QString name = raw.trimmed();
    const auto it = aliases.constFind(name.toLower());
    if (it != aliases.constEnd())
        return *it;
    const QKeySequence seq = QKeySequence::fromString(name, QKeySequence::PortableText);
    if (seq.count() != 1)
        return 0;
    const QKeyCombination c = seq[0];
    if (c.keyboardModifiers() != Qt::NoModifier || c.key() == Qt::Key_unknown)
        return 0;
    return int(c.key());
}

}  // namespace

bool chord_keys(const QString& chord, std::vector<int>& keys, QString* bad)
{
    keys.clear();
    const QStringList names = chord.split(QLatin1Char('+'));
    for (const QString& n : names) {
        const int key = n.trimmed().isEmpty() ? 0 : named_key(n);
        if (key == 0) {
            if (bad)
                *bad = n.trimmed().isEmpty() ? chord : n.trimmed();
            keys.clear();
            return false;
        }
        keys.push_back(key);
    }
    return !keys.empty();
}
