#pragma once
// One step of a mouse drag over the copy in the preview, without widgets: from the grabbed
// edges, the box at the press, the box and the mouse now and the printable area, the copy's new
// relative size and position. The main window's mouse handler feeds it the box's geometry and
// writes the results back into the record and the edits.

#include "layout/PicObj.h"

#include <optional>

// Edges of the copy, as or-ed into a grab: 1 left, 2 top, 4 right, 8 bottom.
enum DragEdge { EdgeLeft = 1, EdgeTop = 2, EdgeRight = 4, EdgeBottom = 8 };

struct TDragInput {
    int Edges = 0; // grabbed edges; 0 moves the copy as a whole
    // The press: mouse in box coordinates, and the box's size then.
    int DownX = 0;
    int DownY = 0;
    int DownWidth = 0;
    int DownHeight = 0;
    // Now: the box on the printable area (preview pixels) and the mouse in box coordinates.
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int X = 0;
    int Y = 0;
    // The printable area in preview pixels.
    int AreaWidth = 0;
    int AreaHeight = 0;
};

// What a step changes, as fractions of the printable area; an empty value stays as it is.
struct TDragStep {
    std::optional<double> xRelSize;
    std::optional<double> yRelSize;
    std::optional<double> xRelPos;
    std::optional<double> yRelPos;
};

// The box follows the mouse, so the grabbed point stays under it: a left edge dragged by d
// widens the copy by d and moves its left edge by -d; a right or bottom edge grows with the
// mouse's distance from the press; a move shifts the copy by the mouse's offset from the grabbed
// point. A horizontal edge is taken from Edges first, the left one before the right; likewise
// the top before the bottom. An empty printable area raises the arithmetic errors.
TDragStep DragStep(const TDragInput& in);

// Applies a step to `pic`: the sizes through the zooms, with `keepAspect` the axis just sized
// lends its zoom to the other (the vertical one last, so it wins at a corner), then the
// positions. A zoom that came out negative (an edge dragged across the opposite one) becomes 0.
void ApplyDragStep(TPicProperties& pic, const TDragStep& step, bool keepAspect);
