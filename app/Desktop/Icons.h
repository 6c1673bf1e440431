#pragma once
#include <QColor>
#include <QIcon>

// The windows' icons by meaning: the desktop's icon theme where it has one, else drawn here in the
// colour asked for.
namespace Icons {

enum class Symbol {
    clearFailed, // a bin with a cross
    cleanUp,     // sparkles
    set,         // a rectangle split in three
    still,       // a photo
    video,       // a film strip
    stop,        // a filled circle with a cross
    tryAgain,    // a clockwise arrow
    remove,      // a circle with a minus
    trash,
    up,         // a chevron
    down,       // a chevron
    removeItem, // a cross
    making,     // an hourglass
    separate,   // a stack of squares
    handle,     // three lines: drag to reorder
};

QIcon icon(Symbol symbol, const QColor& colour);
// Always drawn here, for where the colour itself tells something.
QIcon drawn(Symbol symbol, const QColor& colour);

} // namespace Icons
