#pragma once
// The key setting dialog: the user composes, names, changes and deletes stored
// key sequences. It edits its own copy of the key map and hands the whole map
// on after every change.
#include <QMap>
#include <QString>
#include <QWidget>
#include <vector>

#include "ui/sys_key_info.h"
#include "ui/ui_sysKeyConfig.h"

class QListWidgetItem;

class sysKeyConfig : public QWidget
{
    Q_OBJECT
public:
    explicit sysKeyConfig(QWidget* parent = nullptr);

    // Takes a copy of map and lists its non-empty names in map order. The name
    // field, the key string and the keys being composed are left as they are.
    void loadKeyMap(const SysKeyMap& map);

    const SysKeyMap& keyMap() const { return m_keyMap; }
    const std::vector<SYSTEMKEYINFO>& currentKeys() const { return m_currentKeys; }
    const QString& currentName() const { return m_currentName; }

    Ui_sysKeyConfig ui;

signals:
    void updateSysKeyMap(QMap<QString, std::vector<SYSTEMKEYINFO> >& map);

public slots:
    void on_add();
    void on_clear();
    void on_modify();
    void on_delete();
    void onTextChange(const QString& name);
    void onItemClicked(QListWidgetItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString keyName(int key, const QString& text) const;
    void showKeys(const std::vector<SYSTEMKEYINFO>& keys);

    SysKeyMap m_keyMap;
    QMap<int, QString> m_specialKeyNames;  // keys whose events carry no text
    std::vector<SYSTEMKEYINFO> m_currentKeys;
    QString m_currentName;
};
