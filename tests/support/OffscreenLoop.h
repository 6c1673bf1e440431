#pragma once
#include "tests/support/EventLoop.h"

#include <QApplication>

// Windows drawn without a display: chosen before the application starts.
struct OffscreenPlatform {
    OffscreenPlatform() { qputenv("QT_QPA_PLATFORM", "offscreen"); }
};

// The Qt Widgets application of a test, on the offscreen platform.
class OffscreenLoop : OffscreenPlatform, public BasicEventLoop<QApplication> {};
