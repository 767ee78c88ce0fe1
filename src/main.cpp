#include <QApplication>
#include "h264video.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    H264Video w;
    w.show();
    return app.exec();
}
