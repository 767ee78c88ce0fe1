#include "h264video_form.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace {

QAction* makeAction(QMainWindow* owner, const char* objectName, const char* iconPath)
{
    QAction* a = new QAction(owner);
    a->setObjectName(QString::fromLatin1(objectName));
    QIcon icon;
    icon.addFile(QString::fromLatin1(iconPath), QSize(), QIcon::Normal, QIcon::Off);
    a->setIcon(icon);
    return a;
}

// "1:1" drawn at the tool bar's icon sizes (the other icons are resources).
QIcon actualSizeIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        QFont f = p.font();
        f.setPixelSize(size * 9 / 16);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(225, 225, 225));
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("1:1"));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

}  // namespace

void Ui_H264VideoClass::setupUi(QMainWindow* H264VideoClass)
{
    if (H264VideoClass->objectName().isEmpty())
        H264VideoClass->setObjectName(QString::fromLatin1("H264VideoClass"));
    H264VideoClass->setWindowModality(Qt::NonModal);
    H264VideoClass->resize(401, 326);
    H264VideoClass->setAcceptDrops(false);

    actionFullScreen = makeAction(H264VideoClass, "actionFullScreen", ":/image/Resources/fullscreen.png");
    actionAlign = makeAction(H264VideoClass, "actionAlign", ":/image/mouse");
    actionGrab = makeAction(H264VideoClass, "actionGrab", ":/image/Resources/privCanGrab.png");
    actionVideo_Config = makeAction(H264VideoClass, "actionVideo_Config", ":/image/videoset");
    actionMedia = makeAction(H264VideoClass, "actionMedia", ":/image/uvset");
    actionMouseHide = makeAction(H264VideoClass, "actionMouseHide", ":/image/Resources/mouseHide.png");
    actionSetKey = makeAction(H264VideoClass, "actionSetKey", ":/image/Resources/setting.png");
    actionSetKey->setVisible(false);  // the key setting dialog is reached through the key menu
    actionOptRes = makeAction(H264VideoClass, "actionOptRes", ":/image/Resources/optres.png");
    actionActualSize = new QAction(H264VideoClass);
    actionActualSize->setObjectName(QString::fromLatin1("actionActualSize"));
    actionActualSize->setCheckable(true);
    actionActualSize->setIcon(actualSizeIcon());

    actionRecord = new QAction(H264VideoClass);
    actionRecord->setObjectName(QString::fromLatin1("actionRecord"));
    actionRecord->setCheckable(true);
    {
        // A red dot, the common sign for recording.
        QPixmap dot(32, 32);
        dot.fill(Qt::transparent);
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(220, 30, 30));
        painter.drawEllipse(QRectF(6, 6, 20, 20));
        painter.end();
        actionRecord->setIcon(QIcon(dot));
    }

    actionStats = new QAction(H264VideoClass);
    actionStats->setObjectName(QString::fromLatin1("actionStats"));
    actionStats->setCheckable(true);
    {
        // Three bars of a chart.
        QPixmap bars(32, 32);
        bars.fill(Qt::transparent);
        QPainter painter(&bars);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(60, 60, 60));
        painter.drawRect(QRect(6, 18, 5, 9));
        painter.drawRect(QRect(14, 10, 5, 17));
        painter.drawRect(QRect(22, 4, 5, 23));
        painter.end();
        actionStats->setIcon(QIcon(bars));
    }

    centralWidget = new QWidget(H264VideoClass);
    centralWidget->setObjectName(QString::fromLatin1("centralWidget"));

    label = new QLabel(centralWidget);
    label->setObjectName(QString::fromLatin1("label"));
    label->setGeometry(QRect(70, 70, 16, 16));
    QSizePolicy labelPolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    labelPolicy.setHorizontalStretch(0);
    labelPolicy.setVerticalStretch(0);
    labelPolicy.setHeightForWidth(label->sizePolicy().hasHeightForWidth());
    label->setSizePolicy(labelPolicy);
    label->setCursor(QCursor(Qt::WaitCursor));
    label->setMouseTracking(false);
    label->setFocusPolicy(Qt::ClickFocus);
    label->setText(QString());
    H264VideoClass->setCentralWidget(centralWidget);

    toolBar = new QToolBar(H264VideoClass);
    toolBar->setObjectName(QString::fromLatin1("toolBar"));
    toolBar->setEnabled(true);
    QSizePolicy barPolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    barPolicy.setHorizontalStretch(0);
    barPolicy.setVerticalStretch(0);
    barPolicy.setHeightForWidth(toolBar->sizePolicy().hasHeightForWidth());
    toolBar->setSizePolicy(barPolicy);
    toolBar->setFloatable(true);
    H264VideoClass->addToolBar(Qt::LeftToolBarArea, toolBar);

    toolBar->addAction(actionFullScreen);
    toolBar->addAction(actionAlign);
    toolBar->addAction(actionGrab);
    toolBar->addAction(actionVideo_Config);
    toolBar->addAction(actionMedia);
    toolBar->addAction(actionMouseHide);
    toolBar->addAction(actionSetKey);
    toolBar->addAction(actionOptRes);

    retranslateUi(H264VideoClass);
    // No slot of the window follows the on_<object>_<signal> naming scheme, so
    // connecting by name would connect nothing; the window connects its actions itself.
}

void Ui_H264VideoClass::retranslateUi(QMainWindow* H264VideoClass)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("H264VideoClass", text, nullptr); };
    H264VideoClass->setWindowTitle(tr("H264Video"));
    actionFullScreen->setText(tr("FullScreen"));
    actionFullScreen->setToolTip(tr("FullScreen"));
    actionAlign->setText(tr("align"));
    actionAlign->setToolTip(tr("Align mouse"));
    actionGrab->setText(tr("grab"));
    actionGrab->setToolTip(tr("Grab privilege"));
    actionVideo_Config->setText(tr("Video Config"));
    actionVideo_Config->setToolTip(tr("Video Config"));
    actionMedia->setText(tr("media"));
    actionMedia->setToolTip(tr("media"));
    actionMouseHide->setText(tr("MouseHide"));
    actionMouseHide->setToolTip(tr("Mouse Hide"));
    actionSetKey->setText(tr("setKey"));
    actionSetKey->setToolTip(tr("Set Key"));
    actionOptRes->setText(tr("OptRes"));
    actionOptRes->setToolTip(tr("optimum resolution"));
    actionStats->setText(tr("Statistics"));
    actionStats->setToolTip(tr("Statistics (Ctrl+Alt+Shift+S)"));
    actionRecord->setText(tr("Record"));
    actionRecord->setToolTip(tr("Record the video stream"));
    actionActualSize->setText(tr("Actual Size"));
    actionActualSize->setToolTip(tr("Actual Size: the picture pixel for pixel"));
    toolBar->setWindowTitle(tr("toolBar"));
}
