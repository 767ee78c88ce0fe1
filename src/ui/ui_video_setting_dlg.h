#pragma once
// Form of the video settings dialog: widgets and layout, then the form's own
// translatable texts.
#include <QCoreApplication>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

class Ui_video_setting_dlg
{
public:
    QVBoxLayout* verticalLayout;
    QGridLayout* gridLayout;
    QLabel* label;
    QPushButton* btnUp;
    QPushButton* btnDown;
    QPushButton* btnLeft;
    QPushButton* btnRight;
    QPushButton* pushButton_reset;
    QLabel* label_2;
    QSlider* hSlider;
    QLineEdit* lineEdit_slider;

    void setupUi(QDialog* dlg)
    {
        if (dlg->objectName().isEmpty())
            dlg->setObjectName("video_setting_dlg");
        dlg->resize(416, 244);
        verticalLayout = new QVBoxLayout(dlg);
        verticalLayout->setObjectName("verticalLayout");
        gridLayout = new QGridLayout();
        gridLayout->setObjectName("gridLayout");

        label = new QLabel(dlg);
        label->setObjectName("label");
        gridLayout->addWidget(label, 0, 0);
        btnUp = new QPushButton(dlg);
        btnUp->setObjectName("btnUp");
        gridLayout->addWidget(btnUp, 0, 1);
        btnDown = new QPushButton(dlg);
        btnDown->setObjectName("btnDown");
        gridLayout->addWidget(btnDown, 0, 2);
        btnLeft = new QPushButton(dlg);
        btnLeft->setObjectName("btnLeft");
        gridLayout->addWidget(btnLeft, 0, 3);
        btnRight = new QPushButton(dlg);
        btnRight->setObjectName("btnRight");
        gridLayout->addWidget(btnRight, 0, 4);

        pushButton_reset = new QPushButton(dlg);
        pushButton_reset->setObjectName("pushButton_reset");
        gridLayout->addWidget(pushButton_reset, 2, 0);

        label_2 = new QLabel(dlg);
        label_2->setObjectName("label_2");
        gridLayout->addWidget(label_2, 3, 0);
        hSlider = new QSlider(dlg);
        hSlider->setObjectName("hSlider");
        hSlider->setOrientation(Qt::Horizontal);
        hSlider->setMinimum(1);
        hSlider->setMaximum(100);
        hSlider->setSingleStep(5);
        hSlider->setPageStep(10);
        hSlider->setTickPosition(QSlider::TicksBelow);
        hSlider->setTickInterval(5);
        gridLayout->addWidget(hSlider, 3, 1, 1, 3);
        lineEdit_slider = new QLineEdit(dlg);
        lineEdit_slider->setObjectName("lineEdit_slider");
        gridLayout->addWidget(lineEdit_slider, 3, 4);

        verticalLayout->addLayout(gridLayout);
        retranslateUi(dlg);
    }

    void retranslateUi(QDialog* dlg)
    {
        dlg->setWindowTitle(QCoreApplication::translate("video_setting_dlg", "视频设置"));
        label->setText(QCoreApplication::translate("video_setting_dlg", "视频位置:"));
        btnUp->setText(QCoreApplication::translate("video_setting_dlg", "上"));
        btnDown->setText(QCoreApplication::translate("video_setting_dlg", "下"));
        btnLeft->setText(QCoreApplication::translate("video_setting_dlg", "左"));
        btnRight->setText(QCoreApplication::translate("video_setting_dlg", "右"));
        pushButton_reset->setText(QCoreApplication::translate("video_setting_dlg", "重置"));
        label_2->setText(QCoreApplication::translate("video_setting_dlg", "鼠标采样率(s):"));
        lineEdit_slider->setText(QString());
    }
};
