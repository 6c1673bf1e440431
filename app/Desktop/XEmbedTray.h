#pragma once

// The older tray of X11: a panel that embeds icons owns the screen's tray selection.
namespace XEmbedTray {

// Asked of the X server itself, so that Qt's own choice of tray is not made yet.
bool there();

} // namespace XEmbedTray
