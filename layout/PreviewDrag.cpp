#include "layout/PreviewDrag.h"

#include "platform/Errors.h"

TDragStep DragStep(const TDragInput& in) {
    const double pw = in.AreaWidth;
    const double ph = in.AreaHeight;
    TDragStep step;
    if (in.Edges == 0) {
        // Positions are not limited: the copy may leave the paper.
        step.xRelPos = CheckedDiv(static_cast<double>(in.X) + in.Left - in.DownX, pw);
        step.yRelPos = CheckedDiv(static_cast<double>(in.Y) + in.Top - in.DownY, ph);
        return step;
    }
    if (in.Edges & EdgeLeft) {
        step.xRelSize = CheckedDiv(static_cast<double>(in.Width) + in.DownX - in.X, pw);
        step.xRelPos = CheckedDiv(static_cast<double>(in.X) + in.Left - in.DownX, pw);
    } else if (in.Edges & EdgeRight) {
        step.xRelSize = CheckedDiv(static_cast<double>(in.X) + in.DownWidth - in.DownX, pw);
    }
    if (in.Edges & EdgeTop) {
        step.yRelSize = CheckedDiv(static_cast<double>(in.Height) + in.DownY - in.Y, ph);
        step.yRelPos = CheckedDiv(static_cast<double>(in.Y) + in.Top - in.DownY, ph);
    } else if (in.Edges & EdgeBottom) {
        step.yRelSize = CheckedDiv(static_cast<double>(in.Y) + in.DownHeight - in.DownY, ph);
    }
    return step;
}

void ApplyDragStep(TPicProperties& pic, const TDragStep& step, bool keepAspect) {
    if (step.xRelSize) {
        pic.SetxRelSize(*step.xRelSize);
        if (keepAspect)
            pic.yZoom = pic.xZoom;
    }
    if (step.xRelPos)
        pic.xRelPos = *step.xRelPos;
    if (step.yRelSize) {
        pic.SetyRelSize(*step.yRelSize);
        if (keepAspect)
            pic.xZoom = pic.yZoom;
    }
    if (step.yRelPos)
        pic.yRelPos = *step.yRelPos;
    if (pic.xZoom < 0)
        pic.xZoom = 0;
    if (pic.yZoom < 0)
        pic.yZoom = 0;
}
