#include "h264video.h"

H264Video::H264Video(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags) {}

H264Video::~H264Video() = default;
