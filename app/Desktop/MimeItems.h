#pragma once
#include "app/Window/DraggedItem.h"

class QMimeData;

// What a Qt drag holds, as the model takes dragged things: one item per URL (a file, or the text
// of a web address), else one per line of its text (library rows are dragged as their asset ids,
// a line each).
DraggedItems mimeItems(const QMimeData& data);
