#pragma once
// Form of the key setting dialog: widgets and layouts, then the form's own
// translatable texts.
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

class Ui_sysKeyConfig
{
public:
    QVBoxLayout* verticalLayout_2;
    QVBoxLayout* verticalLayout;
    QListWidget* listWidget;
    QGridLayout* gridLayout;
    QLabel* label;
    QLineEdit* lineEdit_mappingName;
    QLabel* label_2;
    QLineEdit* lineEdit_keyString;
    QHBoxLayout* horizontalLayout;
    QPushButton* pb_add;
    QPushButton* pb_clear;
    QPushButton* pb_modify;
    QPushButton* pb_delete;

    void setupUi(QWidget* w)
    {
        if (w->objectName().isEmpty())
            w->setObjectName("sysKeyConfig");
        w->resize(488, 384);
        verticalLayout_2 = new QVBoxLayout(w);
        verticalLayout_2->setSpacing(6);
        verticalLayout_2->setContentsMargins(11, 11, 11, 11);
        verticalLayout_2->setObjectName("verticalLayout_2");
        verticalLayout = new QVBoxLayout();
        verticalLayout->setSpacing(6);
        verticalLayout->setObjectName("verticalLayout");

        listWidget = new QListWidget(w);
        listWidget->setObjectName("listWidget");
        verticalLayout->addWidget(listWidget);

        gridLayout = new QGridLayout();
        gridLayout->setSpacing(6);
        gridLayout->setObjectName("gridLayout");
        label = new QLabel(w);
        label->setObjectName("label");
        gridLayout->addWidget(label, 0, 0);
        lineEdit_mappingName = new QLineEdit(w);
        lineEdit_mappingName->setObjectName("lineEdit_mappingName");
        gridLayout->addWidget(lineEdit_mappingName, 0, 1);
        label_2 = new QLabel(w);
        label_2->setObjectName("label_2");
        gridLayout->addWidget(label_2, 1, 0);
        lineEdit_keyString = new QLineEdit(w);
        lineEdit_keyString->setObjectName("lineEdit_keyString");
        gridLayout->addWidget(lineEdit_keyString, 1, 1);
        verticalLayout->addLayout(gridLayout);

        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setSpacing(6);
        horizontalLayout->setObjectName("horizontalLayout");
        pb_add = new QPushButton(w);
        pb_add->setObjectName("pb_add");
        horizontalLayout->addWidget(pb_add);
        pb_clear = new QPushButton(w);
        pb_clear->setObjectName("pb_clear");
        horizontalLayout->addWidget(pb_clear);
        pb_modify = new QPushButton(w);
        pb_modify->setObjectName("pb_modify");
        horizontalLayout->addWidget(pb_modify);
        pb_delete = new QPushButton(w);
        pb_delete->setObjectName("pb_delete");
        horizontalLayout->addWidget(pb_delete);
        verticalLayout->addLayout(horizontalLayout);

        verticalLayout_2->addLayout(verticalLayout);
        retranslateUi(w);
    }

    void retranslateUi(QWidget* w)
    {
        w->setWindowTitle(QCoreApplication::translate("sysKeyConfig", "sysKeyConfig"));
        label->setText(QCoreApplication::translate("sysKeyConfig", "Mapping Name:"));
        label_2->setText(QCoreApplication::translate("sysKeyConfig", "Key String:"));
        pb_add->setText(QCoreApplication::translate("sysKeyConfig", "Add"));
        pb_clear->setText(QCoreApplication::translate("sysKeyConfig", "Clear"));
        pb_modify->setText(QCoreApplication::translate("sysKeyConfig", "Modify"));
        pb_delete->setText(QCoreApplication::translate("sysKeyConfig", "Delete"));
    }
};
