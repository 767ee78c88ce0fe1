#include "tools/socket/c_abs_thread.h"

c_abs_thread::c_abs_thread() : QThread(nullptr) {}

c_abs_thread::~c_abs_thread() = default;
