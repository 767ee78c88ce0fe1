#include "session_params.h"

SessionParams g_para = {};
