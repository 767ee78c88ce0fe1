#pragma once
// Form of the virtual media dialog: four rows (drive, mode, buttons,
// progress), then the form's own translatable texts.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

class Ui_uSetingDialog
{
public:
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout;
    QLabel* label;
    QLineEdit* lineEdit;
    QComboBox* comboBox;
    QLabel* pathLabel;  // the chosen path, elided in the middle to the dialog's width
    QHBoxLayout* horizontalLayout_2;
    QLabel* label_2;
    QCheckBox* checkBox;
    QSpacerItem* horizontalSpacer;
    QHBoxLayout* horizontalLayout_3;
    QSpacerItem* horizontalSpacer_2;
    QPushButton* mapButton;
    QPushButton* askButton;
    QPushButton* unmapButton;
    QHBoxLayout* horizontalLayout_4;
    QLabel* label_3;
    QProgressBar* progPercent;
    QLabel* statusLabel;  // why a map failed; transfer rate and write failures while mapped

    void setupUi(QDialog* dlg)
    {
        if (dlg->objectName().isEmpty())
            dlg->setObjectName("uSetingDialog");
        // Not modal: the main window stays usable and can be closed while it is open.
        dlg->setWindowModality(Qt::NonModal);
        dlg->resize(284, 152);
        verticalLayout = new QVBoxLayout(dlg);
        verticalLayout->setObjectName("verticalLayout");

        horizontalLayout = new QHBoxLayout();
        horizontalLayout->setObjectName("horizontalLayout");
        label = new QLabel(dlg);
        label->setObjectName("label");
        horizontalLayout->addWidget(label);
        lineEdit = new QLineEdit(dlg);
        lineEdit->setObjectName("lineEdit");
        lineEdit->setMaximumWidth(75);
        horizontalLayout->addWidget(lineEdit);
        comboBox = new QComboBox(dlg);
        comboBox->setObjectName("comboBox");
        horizontalLayout->addWidget(comboBox, 1);
        verticalLayout->addLayout(horizontalLayout);

        pathLabel = new QLabel(dlg);
        pathLabel->setObjectName("pathLabel");
        pathLabel->setMinimumWidth(1);
        pathLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        verticalLayout->addWidget(pathLabel);

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setObjectName("horizontalLayout_2");
        label_2 = new QLabel(dlg);
        label_2->setObjectName("label_2");
        horizontalLayout_2->addWidget(label_2);
        checkBox = new QCheckBox(dlg);
        checkBox->setObjectName("checkBox");
        horizontalLayout_2->addWidget(checkBox);
        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_2->addItem(horizontalSpacer);
        verticalLayout->addLayout(horizontalLayout_2);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setObjectName("horizontalLayout_3");
        horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_3->addItem(horizontalSpacer_2);
        mapButton = new QPushButton(dlg);
        mapButton->setObjectName("mapButton");
        horizontalLayout_3->addWidget(mapButton);
        askButton = new QPushButton(dlg);
        askButton->setObjectName("askButton");
        askButton->setEnabled(false);
        horizontalLayout_3->addWidget(askButton);
        unmapButton = new QPushButton(dlg);
        unmapButton->setObjectName("unmapButton");
        unmapButton->setEnabled(false);
        horizontalLayout_3->addWidget(unmapButton);
        verticalLayout->addLayout(horizontalLayout_3);

        horizontalLayout_4 = new QHBoxLayout();
        horizontalLayout_4->setObjectName("horizontalLayout_4");
        label_3 = new QLabel(dlg);
        label_3->setObjectName("label_3");
        horizontalLayout_4->addWidget(label_3);
        progPercent = new QProgressBar(dlg);
        progPercent->setObjectName("progPercent");
        progPercent->setEnabled(false);
        progPercent->setValue(0);
        horizontalLayout_4->addWidget(progPercent, 1);
        verticalLayout->addLayout(horizontalLayout_4);

        statusLabel = new QLabel(dlg);
        statusLabel->setObjectName("statusLabel");
        statusLabel->setWordWrap(true);
        statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        verticalLayout->addWidget(statusLabel);

        retranslateUi(dlg);
    }

    void retranslateUi(QDialog* dlg)
    {
        dlg->setWindowTitle(QCoreApplication::translate("uSetingDialog", "虚拟媒体设置"));
        label->setText(QCoreApplication::translate("uSetingDialog", "映射盘符"));
        label_2->setText(QCoreApplication::translate("uSetingDialog", "映射模式"));
        checkBox->setText(QCoreApplication::translate("uSetingDialog", "只读"));
        mapButton->setText(QCoreApplication::translate("uSetingDialog", "映射"));
        askButton->setText(QCoreApplication::translate("uSetingDialog", "查询"));
        unmapButton->setText(QCoreApplication::translate("uSetingDialog", "结束映射"));
        label_3->setText(QCoreApplication::translate("uSetingDialog", "进度："));
    }
};
